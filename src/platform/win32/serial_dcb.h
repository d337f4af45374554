// Line settings as a Win32 device control block. Kept apart from the device
// calls so that the mapping can be checked without a serial port.
#pragma once

#include "platform/serial_port.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform::win32 {

// The controller's line keeps the port's queue thresholds at these values.
inline constexpr WORD kXonLimit = 80;
inline constexpr WORD kXoffLimit = 200;

// Turns `dcb`, as read from the port, into binary mode with `settings`: rate,
// character frame, flow control, parity checking; DSR sensitivity, transmit
// on XOFF, error-character replacement, null discarding and abort on error
// off. False when the data bits are outside 4..8; `dcb` is then unchanged.
bool ApplyToDcb(const SerialSettings& settings, DCB& dcb);

// `dcb` with a frame the port can always take: 8 data bits, no parity.
DCB WithPlainFrame(DCB dcb);

}  // namespace tk571::platform::win32
