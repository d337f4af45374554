// The local echo of a line: an adapter whose receiver stays on while it
// transmits gives every request back in front of the answer. The echo is
// taken off exactly, so that the answer is judged as on a line without it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/serial_echo.h"

namespace tk571 {

class EchoFilter {
 public:
  void SetMode(platform::SerialEcho mode) { mode_ = mode; }
  // A request went out: its bytes may come back first.
  void Sent(std::string_view request);

  struct Verdict {
    std::size_t strip = 0;  // bytes at the front that are the echo
    bool hold = false;      // the front may be an echo still arriving
  };
  // Judges what arrived since the request; a stripped echo is done with.
  Verdict Judge(std::string_view received);
  uint32_t Stripped() const { return stripped_; }

 private:
  platform::SerialEcho mode_ = platform::SerialEcho::kAuto;
  std::string pending_;
  uint32_t stripped_ = 0;
};

}  // namespace tk571
