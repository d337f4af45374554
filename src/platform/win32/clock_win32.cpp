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
