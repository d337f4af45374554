// The road every write of the gateway takes on its way to a line, whoever
// sends it (a broker's client, a Modbus client): the write policy's verdict
// comes back before anything is queued.
#pragma once

#include <string>

#include "write_verdict.h"

namespace tk571::gateway {

class WriteRoad {
 public:
  virtual ~WriteRoad() = default;
  virtual WriteVerdict Submit(const std::string& device, const std::string& control,
                              const std::string& payload) = 0;
};

}  // namespace tk571::gateway
