// Bounds the log lines of one recurring event per key (a refused write of
// one control, say): the first few lines of each interval go out, the rest
// are counted and summed up in one line when the interval is over.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tk571::gateway {

class LogThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  // `burst` lines of a key go out in each interval.
  LogThrottle(Clock::duration interval, uint64_t burst) : interval_(interval), burst_(burst) {}

  // True when the event's line is to be logged; otherwise it is counted.
  bool Admit(const std::string& key, Clock::time_point now);

  // "<key>: 999 more in the last 10 s" for each key whose interval is over
  // and that had events held back; the interval starts again with the next
  // event.
  std::vector<std::string> Summaries(Clock::time_point now);

 private:
  struct Window {
    Clock::time_point start;
    uint64_t logged = 0;
    uint64_t held_back = 0;
  };

  Clock::duration interval_;
  uint64_t burst_;
  std::mutex mutex_;
  std::map<std::string, Window> windows_;
};

}  // namespace tk571::gateway
