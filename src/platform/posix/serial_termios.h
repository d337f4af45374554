// Line settings as termios values. Kept apart from the device calls so that
// the mapping can be checked without a serial device.
#pragma once

#include <termios.h>

#include "platform/serial_port.h"

namespace tk571::platform::posix {

// The speed constant of a baud rate, or B0 when termios has none for it (such
// rates are set through termios2 afterwards).
speed_t StandardSpeed(uint32_t baud);

// Turns `t`, as read from the device, into raw mode with `settings`. False
// when the data bits are outside 5..8; `t` is then unchanged.
bool ApplyToTermios(const SerialSettings& settings, termios& t);

// The character frame `t` sets (CSTOPB is two stop bits).
SerialFrame FrameOfTermios(const termios& t);

}  // namespace tk571::platform::posix
