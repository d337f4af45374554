// Whatever a Modbus TCP client sends: any frame is decoded and answered
// against a register map of two controllers without a crash, a read past the
// frame or a reply that disagrees with the request. The first byte picks the
// write road's verdict, the rest is the frame.
#include <modbus/modbus.h>

#include <cstdint>
#include <string>
#include <vector>

#include "modbus_request.h"

namespace {

using namespace tk571::gateway;

Control MakeControl(ControlRole role, int device, const std::string& type, int channel,
                    bool writable) {
  Control c;
  c.role = role;
  c.device = "s" + std::to_string(device);
  c.device_number = device;
  c.name = type + std::to_string(channel);
  c.type = type;
  c.channel = channel;
  c.writable = writable;
  return c;
}

LinePlan Plan() {
  LinePlan plan;
  plan.config.name = "l1";
  for (int d : {1, 7}) {
    DeviceConfig device;
    device.number = d;
    device.name = "s" + std::to_string(d);
    plan.config.devices.push_back(device);
    plan.controls.push_back(MakeControl(ControlRole::kDeviceLink, d, "DEVICELINK", 0, false));
    plan.controls.push_back(MakeControl(ControlRole::kTag, d, "READ", 1, false));
    for (int m = 1; m <= 4; ++m) {
      plan.controls.push_back(MakeControl(ControlRole::kTag, d, "ENQ", m, false));
      plan.controls.push_back(MakeControl(ControlRole::kTag, d, "M_FINAL", m, m != 4));
    }
    plan.controls.push_back(MakeControl(ControlRole::kTag, d, "LOAD_SETM", 1, true));
    plan.controls.push_back(MakeControl(ControlRole::kTag, d, "START_UP", 1, true));
  }
  return plan;
}

class FixedRoad : public WriteRoad {
 public:
  WriteVerdict verdict = WriteVerdict::kAllowed;
  WriteVerdict Submit(const std::string&, const std::string&, const std::string&) override {
    return verdict;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<LinePlan> plans = {Plan()};
  static const RegisterMap map = [] {
    ModbusConfig config;
    config.units = {ModbusUnit{1, "l1", "", ""}, ModbusUnit{9, "", "s7", ""}};
    std::vector<std::string> errors;
    return BuildRegisterMap(config, plans, &errors);
  }();
  if (size == 0) return 0;
  const auto now = SteadyClock::now();
  LineMetrics metrics;
  LineValues values(plans[0], metrics);
  values.DriverRunning(true);
  values.DeviceLink(1, 1);
  values.DeviceLink(7, data[0] & 3);
  for (std::size_t i = 0; i < plans[0].controls.size(); ++i)
    values.Reported(i, 12.5, i % 5 == 0, now);
  FixedRoad road;
  road.verdict = static_cast<WriteVerdict>((data[0] >> 2) % 10);
  const ModbusAnswer answer = AnswerRequest(data + 1, size - 1, map, {&values}, road, now);
  if (answer.drop || answer.exception != 0) return 0;
  // A reply carries exactly the range the request names, within the
  // protocol's limits.
  const std::size_t count = size - 1 >= 12 ? (data[11] << 8 | data[12]) : 0;
  const uint8_t function = data[8];
  if (answer.values.empty() || answer.values.size() > MODBUS_MAX_READ_BITS) __builtin_trap();
  if (function != MODBUS_FC_WRITE_SINGLE_COIL && function != MODBUS_FC_WRITE_SINGLE_REGISTER &&
      answer.values.size() != count)
    __builtin_trap();
  return 0;
}
