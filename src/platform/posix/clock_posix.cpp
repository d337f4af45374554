#include <time.h>

#include <atomic>

#include "platform/clock.h"

namespace tk571::platform {
namespace {

class SystemClock final : public Clock {
 public:
  uint32_t TickMs() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
  }
  void SleepMs(uint32_t ms) override {
    timespec ts{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
  }
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
