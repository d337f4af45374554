#include "platform/serial_echo.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace tk571::platform {

SerialEcho SerialEchoSetting(int port_index) {
  const std::string name = "TK571_COM" + std::to_string(port_index + 1) + "_ECHO";
  const char* value = std::getenv(name.c_str());
  const std::string_view text = value != nullptr ? value : "";
  if (text == "on") return SerialEcho::kOn;
  if (text == "off") return SerialEcho::kOff;
  return SerialEcho::kAuto;
}

}  // namespace tk571::platform
