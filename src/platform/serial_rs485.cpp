#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/serial_port.h"

namespace tk571::platform {
namespace {

uint32_t EnvironmentMs(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr || *value < '0' || *value > '9') return 0;
  char* end = nullptr;
  const unsigned long ms = std::strtoul(value, &end, 10);
  return end != value && *end == '\0' && ms <= UINT32_MAX ? static_cast<uint32_t>(ms) : 0;
}

}  // namespace

SerialRs485 SerialRs485Setting(int port_index) {
  const std::string name = "TK571_COM" + std::to_string(port_index + 1) + "_RS485";
  const char* value = std::getenv(name.c_str());
  SerialRs485 rs485;
  rs485.enabled = value != nullptr && std::string_view(value) == "1";
  rs485.delay_before_ms = EnvironmentMs(name + "_DELAY_BEFORE");
  rs485.delay_after_ms = EnvironmentMs(name + "_DELAY_AFTER");
  return rs485;
}

}  // namespace tk571::platform
