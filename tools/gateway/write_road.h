// The road every write of the gateway takes on its way to a line, whoever
// sends it (a broker's client, a Modbus client), with the answer it gets
// before anything is queued.
#pragma once

#include <string>

namespace tk571::gateway {

enum class WriteVerdict {
  kQueued,  // passed on to the line
  kNoSuchControl,
  kNotWritable,  // the configuration does not let the control be written
  kOutOfRange,   // the value is outside the control's limits, or not a value at all
  kBusy,         // too many writes just now
  kUnreachable,  // the line or the device does not answer
};

class WriteRoad {
 public:
  virtual ~WriteRoad() = default;
  virtual WriteVerdict Submit(const std::string& device, const std::string& control,
                              const std::string& payload) = 0;
};

}  // namespace tk571::gateway
