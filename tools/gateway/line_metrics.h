// The figures of one line, kept by its worker as it polls and writes, and
// read by whoever publishes them (the gateway's retained metrics message,
// another server). All of it is what the gateway itself sees of the driver:
// polls, records and their qualities, link tags and the driver's messages.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace tk571::gateway {

struct DeviceFigures {
  double link = 0;            // DEVICELINKn, 0..5
  uint64_t link_changes = 0;  // reports of a new link status
  uint64_t bad_readings = 0;  // records of a quality other than good
};

struct LineFigures {
  uint64_t polls = 0;     // OnDataRead calls
  uint64_t records = 0;   // changed values they reported
  uint64_t timeouts = 0;  // polls whose driver message was a time-out
  uint64_t driver_messages = 0;
  double line_link = 0;  // COMMLINK, 0..5
  uint64_t line_link_changes = 0;
  uint64_t driver_starts = 0;                    // IniDriver calls that started the driver
  uint64_t start_failures = 0;                   // IniDriver calls that did not
  uint64_t writes_done = 0;                      // handed to the driver (OnDataWrite)
  uint64_t writes_refused = 0;                   // by the policy, or because the line was busy
  uint64_t writes_failed = 0;                    // refused on the line (no link) or reported failed
  uint64_t write_queue = 0;                      // writes waiting for the line's thread
  uint64_t dropped = 0;                          // values replaced before they reached the broker
  std::map<std::string, DeviceFigures> devices;  // by device name
};

class LineMetrics {
 public:
  // Changes the figures under the lock; any thread.
  void Update(const std::function<void(LineFigures&)>& change);
  LineFigures Snapshot() const;

 private:
  mutable std::mutex mutex_;
  LineFigures figures_;
};

// {"line":"line1","polls":..,"devices":{"scale1":{"link":1,...}},...}
std::string MetricsPayload(const std::string& line, const LineFigures& figures);

}  // namespace tk571::gateway
