#include <atomic>

#include "platform/clock.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {
namespace {

class SystemClock final : public Clock {
 public:
  // The system's millisecond counter wraps after 49.7 days, as the driver's
  // tick comparisons expect.
  uint32_t TickMs() override { return GetTickCount(); }
  void SleepMs(uint32_t ms) override { Sleep(ms); }
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
