// A clock the test drives: ticks move only when the test (or a sleep of the
// code under test) moves them, and the wall clock stands at a fixed moment.
#pragma once

#include <atomic>
#include <chrono>

#include "platform/clock.h"
#include "platform/local_time.h"

namespace tk571::testing {

class FakeClock : public platform::Clock {
 public:
  // 2026-03-14 09:26:53 local time, unless a test sets another moment.
  FakeClock() : FakeClock(LocalMoment(2026, 3, 14, 9, 26, 53)) {}
  explicit FakeClock(std::chrono::system_clock::time_point now) : now_(now) {
    platform::SetClock(this);
  }
  ~FakeClock() override { platform::SetClock(nullptr); }

  uint32_t TickMs() override { return tick_.load(); }
  void SleepMs(uint32_t ms) override { Advance(ms); }
  std::chrono::system_clock::time_point Now() override { return now_; }

  void Advance(uint32_t ms) {
    tick_ += ms;
    now_ += std::chrono::milliseconds(ms);
  }
  void SetTick(uint32_t tick) { tick_ = tick; }
  void Set(std::chrono::system_clock::time_point t) { now_ = t; }

  static std::chrono::system_clock::time_point LocalMoment(int y, int mo, int d, int h, int mi,
                                                           int s);

 private:
  std::atomic<uint32_t> tick_{1000000};
  std::chrono::system_clock::time_point now_;
};

inline std::chrono::system_clock::time_point FakeClock::LocalMoment(int y, int mo, int d, int h,
                                                                    int mi, int s) {
  std::tm parts{};
  parts.tm_year = y - 1900;
  parts.tm_mon = mo - 1;
  parts.tm_mday = d;
  parts.tm_hour = h;
  parts.tm_min = mi;
  parts.tm_sec = s;
  parts.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&parts));
}

}  // namespace tk571::testing
