#include "register_map.h"

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>

namespace tk571::gateway {
namespace {

constexpr int kDeviceStride = 100;
constexpr uint16_t kRegistersPerSlot = 4;
constexpr int kFirstSetPointSlot = 5;
constexpr uint16_t kLinkRegister = 96;
constexpr uint16_t kFiguresBase = 10000;

struct FigureRow {
  LineFigure figure;
  uint16_t offset;
  uint16_t count;
  const char* name;
  const char* meaning;
};
constexpr FigureRow kFigures[] = {
    {LineFigure::kLink, 0, 1, "link", "the line's link status 0..5 (1 normal)"},
    {LineFigure::kRunning, 1, 1, "running", "1 while the line's driver runs"},
    {LineFigure::kDevicesNormal, 2, 1, "devices_normal", "devices whose link is normal"},
    {LineFigure::kWriteQueue, 3, 1, "write_queue", "writes waiting for the line's thread"},
    {LineFigure::kPolls, 4, 2, "polls", "polls of the driver (OnDataRead)"},
    {LineFigure::kRecords, 6, 2, "records", "changed values the polls reported"},
    {LineFigure::kTimeouts, 8, 2, "timeouts", "polls whose driver message was a time-out"},
    {LineFigure::kWritesDone, 10, 2, "writes_done", "writes handed to the driver"},
    {LineFigure::kWritesRefused, 12, 2, "writes_refused",
     "writes refused by the policy or a busy line"},
    {LineFigure::kWritesFailed, 14, 2, "writes_failed",
     "writes refused on the line or reported failed"},
    {LineFigure::kDriverStarts, 16, 2, "driver_starts", "starts of the driver"},
    {LineFigure::kStartFailures, 18, 2, "start_failures", "starts of the driver that failed"},
    {LineFigure::kLinkChanges, 20, 2, "link_changes", "changes of the line's link status"},
};

// The input register slot of a kind and material.
std::optional<int> SlotOf(const std::string& type, int channel) {
  static const std::map<std::string, int> kFirst = {
      {"READ", 0},      {"ENQ", 1},        {"M_FINAL", 5},    {"M_COARSE", 9}, {"M_FINE", 13},
      {"M_MEDIUM", 17}, {"LOAD_SETM", 21}, {"READ_SETM", 22}, {"START_UP", 23}};
  const auto first = kFirst.find(type);
  if (first == kFirst.end()) return std::nullopt;
  const bool materials = type != "READ" && first->second < 21;
  return first->second + (materials ? channel - 1 : 0);
}

std::string StatusMeaning(const std::string& name) {
  return "status of " + name +
         ": 0 good, 1 no value yet, 2 link not normal, 3 line down, 4 stale, 5 write refused, 6 "
         "write failed";
}

class Builder {
 public:
  Builder(const std::vector<LinePlan>& plans, std::vector<std::string>* errors)
      : plans_(plans), errors_(errors) {}

  void Line(int unit, std::size_t line) {
    for (const DeviceConfig& device : plans_[line].config.devices) {
      Device(unit, line, device.number, device.number * kDeviceStride);
    }
    Figures(unit, line);
  }

  void OneDevice(int unit, const std::string& name) {
    for (std::size_t line = 0; line < plans_.size(); ++line) {
      for (const DeviceConfig& device : plans_[line].config.devices) {
        if (device.name == name) {
          Device(unit, line, device.number, 0);
          Figures(unit, line);
        }
      }
    }
  }

  std::vector<MapEntry> Take() {
    std::sort(entries_.begin(), entries_.end(), [](const MapEntry& a, const MapEntry& b) {
      return std::tie(a.unit, a.table, a.address) < std::tie(b.unit, b.table, b.address);
    });
    return std::move(entries_);
  }

 private:
  void Add(MapEntry entry) { entries_.push_back(std::move(entry)); }

  MapEntry Entry(int unit, ModbusTable table, int address, uint16_t count, RegisterRole role,
                 std::size_t line) {
    MapEntry e;
    e.unit = unit;
    e.table = table;
    e.address = static_cast<uint16_t>(address);
    e.count = count;
    e.role = role;
    e.line = line;
    return e;
  }

  void Device(int unit, std::size_t line, int number, int base) {
    const LinePlan& plan = plans_[line];
    std::map<int, std::string> taken;  // slot -> control
    for (std::size_t i = 0; i < plan.controls.size(); ++i) {
      const Control& c = plan.controls[i];
      if (c.device_number != number) continue;
      if (c.role == ControlRole::kDeviceLink) {
        MapEntry link = Entry(unit, ModbusTable::kInputRegisters, base + kLinkRegister, 1,
                              RegisterRole::kLinkStatus, line);
        link.device = number;
        link.name = c.device + "/link";
        link.type = "uint16";
        link.meaning = "link status 0..5 (1 normal)";
        Add(link);
        MapEntry normal =
            Entry(unit, ModbusTable::kDiscreteInputs, base, 1, RegisterRole::kLinkNormal, line);
        normal.device = number;
        normal.name = c.device + "/link";
        normal.type = "bit";
        normal.meaning = "the link is normal";
        Add(normal);
        continue;
      }
      if (c.role != ControlRole::kTag) continue;
      const std::optional<int> slot = SlotOf(c.type, c.channel);
      if (!slot) continue;
      const std::string name = c.device + "/" + c.name;
      const auto [earlier, fresh] = taken.emplace(*slot, name);
      if (!fresh) {
        errors_->push_back("/modbus: " + name + " would have the registers of " + earlier->second +
                           " (both " + c.tag.address + ")");
        continue;
      }
      const int at = base + *slot * kRegistersPerSlot;
      MapEntry value = Entry(unit, ModbusTable::kInputRegisters, at, 2, RegisterRole::kValue, line);
      value.control = i;
      value.device = number;
      value.device_name = c.device;
      value.control_name = c.name;
      value.writable = c.writable;
      value.kind = c.type;
      value.name = name;
      value.type = "float32";
      value.meaning = c.title.en + (c.unit.empty() ? "" : " (" + c.unit + ")");
      MapEntry status = value;
      status.address = static_cast<uint16_t>(at + 2);
      status.count = 1;
      status.role = RegisterRole::kStatus;
      status.type = "uint16";
      status.meaning = StatusMeaning(name);
      MapEntry age = status;
      age.address = static_cast<uint16_t>(at + 3);
      age.role = RegisterRole::kAge;
      age.meaning = "age of " + name + " in 100 ms (65535: none yet)";
      Add(value);
      Add(status);
      Add(age);
      if (*slot >= kFirstSetPointSlot && c.type.rfind("M_", 0) == 0) {
        MapEntry setpoint = value;
        setpoint.table = ModbusTable::kHoldingRegisters;
        setpoint.address = static_cast<uint16_t>(base + (*slot - kFirstSetPointSlot) * 2);
        setpoint.role = RegisterRole::kSetPoint;
        setpoint.type = "set-point";  // float32 or int32, by the configuration
        setpoint.meaning = value.meaning + (c.writable ? "" : ", read-only");
        Add(setpoint);
      } else if (*slot > 20) {
        MapEntry command = value;
        command.table = ModbusTable::kCoils;
        command.address = static_cast<uint16_t>(base + *slot - 21);
        command.count = 1;
        command.role = RegisterRole::kCommand;
        command.type = "bit";
        command.meaning = c.title.en + (c.writable ? "" : ", read-only");
        Add(command);
      }
    }
  }

  void Figures(int unit, std::size_t line) {
    for (const FigureRow& row : kFigures) {
      MapEntry e = Entry(unit, ModbusTable::kInputRegisters, kFiguresBase + row.offset, row.count,
                         RegisterRole::kLineFigure, line);
      e.figure = row.figure;
      e.name = plans_[line].config.name + "/" + row.name;
      e.type = row.count == 2 ? "uint32" : "uint16";
      e.meaning = row.meaning;
      Add(e);
    }
  }

  const std::vector<LinePlan>& plans_;
  std::vector<std::string>* errors_;
  std::vector<MapEntry> entries_;
};

}  // namespace

RegisterMap::RegisterMap(std::vector<MapEntry> entries, const ModbusConfig& config)
    : entries_(std::move(entries)),
      order_(config.word_order),
      setpoints_(config.setpoints),
      scale_(config.setpoint_scale),
      stale_after_(config.stale_s) {}

const MapEntry* RegisterMap::Find(int unit, ModbusTable table, uint16_t address) const {
  // The last entry that starts at or before the address.
  const auto after =
      std::upper_bound(entries_.begin(), entries_.end(), std::make_tuple(unit, table, address),
                       [](const auto& key, const MapEntry& e) {
                         return key < std::tie(e.unit, e.table, e.address);
                       });
  if (after == entries_.begin()) return nullptr;
  const MapEntry& e = *std::prev(after);
  if (e.unit != unit || e.table != table || address >= e.address + e.count) return nullptr;
  return &e;
}

bool RegisterMap::HasUnit(int unit) const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [unit](const MapEntry& e) { return e.unit == unit; });
}

RegisterMap BuildRegisterMap(const ModbusConfig& config, const std::vector<LinePlan>& plans,
                             std::vector<std::string>* errors) {
  Builder builder(plans, errors);
  for (const ModbusUnit& unit : config.units) {
    if (!unit.device.empty()) {
      builder.OneDevice(unit.unit, unit.device);
      continue;
    }
    for (std::size_t line = 0; line < plans.size(); ++line) {
      if (plans[line].config.name == unit.line) builder.Line(unit.unit, line);
    }
  }
  return RegisterMap(builder.Take(), config);
}

}  // namespace tk571::gateway
