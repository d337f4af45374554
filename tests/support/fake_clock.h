// The one clock of the tests: ticks move only when the test, or a sleep of
// the code under test, moves them; the wall clock stands at a fixed moment and
// moves with the ticks. It is the driver's clock from construction to
// destruction. A line thread's waits end only when the test has moved the
// ticks past them (or bytes or a wake-up end them), so the test decides when
// the line thread's time passes.
#pragma once

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <mutex>

#include "platform/clock.h"
#include "platform/line_wait.h"

namespace tk571::testing {

class FakeClock : public platform::Clock {
 public:
  // 2026-03-14 09:26:53 local time, unless a test sets another moment.
  FakeClock() : FakeClock(LocalMoment(2026, 3, 14, 9, 26, 53)) {}
  explicit FakeClock(std::chrono::system_clock::time_point now) : now_(now) {
    platform::SetClock(this);
  }
  ~FakeClock() override { platform::SetClock(nullptr); }
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  uint32_t TickMs() override { return tick_.load(); }
  void SleepMs(uint32_t ms) override {
    const int sleeps = ++sleeps_;
    slept_ += ms;
    Advance(ms);
    if (on_sleep) on_sleep(sleeps);
  }
  std::chrono::system_clock::time_point Now() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
  }
  platform::LineWake WaitLine(platform::LineWaiter& waiter, const platform::SerialPort* port,
                              uint32_t start, uint32_t timeout_ms) override {
    for (;;) {
      // A real millisecond at a time: bytes and wake-ups are real events.
      const platform::LineWake woke = waiter.Wait(port, 1);
      if (woke != platform::LineWake::kTimedOut) return woke;
      if (timeout_ms != platform::kWaitForever && TickMs() - start >= timeout_ms) return woke;
    }
  }

  void Advance(uint32_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    tick_ += ms;
    now_ += std::chrono::milliseconds(ms);
  }
  // Puts the tick counter elsewhere, e.g. just before its wrap.
  void SetTick(uint32_t tick) { tick_ = tick; }
  void Set(std::chrono::system_clock::time_point t) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ = t;
  }

  // Sleeps of the code under test so far, and their milliseconds.
  int sleeps() const { return sleeps_; }
  uint32_t slept() const { return slept_; }
  // Called after each sleep with the number of sleeps so far.
  std::function<void(int)> on_sleep;

  static std::chrono::system_clock::time_point LocalMoment(int y, int mo, int d, int h, int mi,
                                                           int s) {
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

 private:
  std::mutex mutex_;
  // Wraps a quarter second into a test.
  std::atomic<uint32_t> tick_{0xFFFFFF00u};
  std::chrono::system_clock::time_point now_;
  std::atomic<int> sleeps_{0};
  std::atomic<uint32_t> slept_{0};
};

}  // namespace tk571::testing
