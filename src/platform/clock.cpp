#include "platform/clock.h"

#include <atomic>

#include "platform/system_time.h"

namespace tk571::platform {

bool Clock::WaitFor(std::condition_variable&, std::unique_lock<std::mutex>& lock,
                    uint32_t timeout_ms, const std::function<bool()>& ready) {
  if (ready()) return true;
  lock.unlock();
  SleepMs(timeout_ms);
  lock.lock();
  return ready();
}

LineWake Clock::WaitLine(LineWaiter& waiter, const SerialPort* port, uint32_t since,
                         uint32_t timeout_ms) {
  if (timeout_ms == kWaitForever) return waiter.Wait(port, kWaitForever);
  const uint32_t passed = TickMs() - since;
  return waiter.Wait(port, passed < timeout_ms ? timeout_ms - passed : 0);
}

namespace {

class SystemClock final : public Clock {
 public:
  uint32_t TickMs() override { return SystemTickMs(); }
  void SleepMs(uint32_t ms) override { SystemSleepMs(ms); }
  std::chrono::system_clock::time_point Now() override { return std::chrono::system_clock::now(); }
  bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint32_t timeout_ms,
               const std::function<bool()>& ready) override {
    return cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
  }
};

SystemClock g_system_clock;
std::atomic<Clock*> g_clock{&g_system_clock};

}  // namespace

Clock& GetClock() {
  return *g_clock.load(std::memory_order_acquire);
}

void SetClock(Clock* clock) {
  g_clock.store(clock ? clock : &g_system_clock, std::memory_order_release);
}

}  // namespace tk571::platform
