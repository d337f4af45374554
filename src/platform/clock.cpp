#include "platform/clock.h"

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

}  // namespace tk571::platform
