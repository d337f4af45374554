#include <time.h>

#include "platform/system_time.h"

namespace tk571::platform {

uint32_t SystemTickMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void SystemSleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

}  // namespace tk571::platform
