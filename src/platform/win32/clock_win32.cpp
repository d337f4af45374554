#include "platform/system_time.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {

// The system's millisecond counter wraps after 49.7 days, as the driver's
// tick comparisons expect.
uint32_t SystemTickMs() {
  return GetTickCount();
}

void SystemSleepMs(uint32_t ms) {
  Sleep(ms);
}

}  // namespace tk571::platform
