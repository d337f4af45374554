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

LineWake Clock::WaitLine(LineWaiter& waiter, const SerialPort* port, uint32_t timeout_ms) {
  return waiter.Wait(port, timeout_ms);
}

}  // namespace tk571::platform
