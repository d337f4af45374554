// Any baud rate through termios2 and BOTHER. <asm/termbits.h> and
// <termios.h> cannot be included together, so this header names neither.
#pragma once

#include <cstdint>

namespace tk571::platform::posix {

// Sets input and output speed to `baud`. tcsetattr overwrites a speed set
// this way, so call it after tcsetattr. Returns 0 or an errno value.
int SetCustomBaud(int fd, uint32_t baud);
// The output speed in baud as the device holds it. Returns 0 or an errno value.
int GetBaud(int fd, uint32_t& baud);

}  // namespace tk571::platform::posix
