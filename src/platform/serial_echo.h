// Local echo of a serial line: an RS-485 adapter whose receiver stays on
// while it transmits hands every byte sent back to the driver, in front of
// the controller's answer.
#pragma once

#include <cstdint>

namespace tk571::platform {

enum class SerialEcho : uint8_t {
  kAuto,  // echo is recognised per request: the bytes received begin with it
  kOn,    // every request comes back: as many bytes as it has are dropped
  kOff,   // nothing received is ever taken for an echo
};

// TK571_COM<index+1>_ECHO: "on", "off" or "auto"; auto when unset or other.
SerialEcho SerialEchoSetting(int port_index);

}  // namespace tk571::platform
