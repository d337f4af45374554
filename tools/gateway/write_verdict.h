// The answer to a write: whether it may go to the line and, if not, why.
// A control's plan carries the part of it that the configuration alone
// decides.
#pragma once

namespace tk571::gateway {

enum class WriteVerdict {
  kAllowed,
  kNoSuchControl,  // the device or control is not in the configuration
  kWritesOff,      // writes are switched off, globally or for the device
  kNotWritable,    // the control is read-only or not allowed by the configuration
  kCommandsOff,    // a command (START_UP, LOAD_SETM, READ_SETM) without the commands switch
  kTooLarge,       // the payload is longer than any value of the control can be
  kNotAValue,      // not a number, not 0/1 or on/off
  kOutOfRange,     // outside the control's min..max
  kRateLimited,    // the control was written less than the minimum interval ago
  kLineBusy,       // the line has too many writes waiting
};

}  // namespace tk571::gateway
