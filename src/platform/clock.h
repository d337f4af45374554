// Time as the driver sees it: a wrapping 32-bit millisecond tick, a sleep and
// the local wall clock. Tests install a clock they drive themselves.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/line_wait.h"

namespace tk571::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds of a monotonic counter, truncated to 32 bits; compare ticks
  // only through unsigned differences.
  virtual uint32_t TickMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
  virtual std::chrono::system_clock::time_point Now() = 0;
  // Waits on `cv`, `lock` held, until `ready` holds or `timeout_ms` passed;
  // the answer of `ready` at the end. A clock that moves only when the driver
  // sleeps (a test's) passes the whole timeout at once, as one sleep.
  virtual bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                       uint32_t timeout_ms, const std::function<bool()>& ready);
  // A line thread's wait (LineWaiter::Wait) until `timeout_ms` have passed
  // since the tick `since`, measured by this clock: a test's clock lets the
  // time pass only when the test moves the ticks.
  virtual LineWake WaitLine(LineWaiter& waiter, const SerialPort* port, uint32_t since,
                            uint32_t timeout_ms);
};

// The clock every part of the driver uses. SetClock(nullptr) restores the
// system clock; the caller keeps ownership of a clock it installs.
Clock& GetClock();
void SetClock(Clock* clock);

inline uint32_t Tick() {
  return GetClock().TickMs();
}
// On a line thread the pause releases the driver object and ends when the
// line stops.
inline void SleepMs(uint32_t ms) {
  if (LinePause* pause = ThreadLinePause())
    pause->Pause(ms);
  else
    GetClock().SleepMs(ms);
}
inline uint32_t TicksSince(uint32_t start) {
  return Tick() - start;
}

}  // namespace tk571::platform
