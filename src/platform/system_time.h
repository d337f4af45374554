// What each system gives the portable clock and calendar: its millisecond
// tick, its sleep and its split of a time into local calendar parts.
#pragma once

#include <time.h>

#include <cstdint>

namespace tk571::platform {

// Milliseconds of a monotonic counter; wraps after 49.7 days.
uint32_t SystemTickMs();
void SystemSleepMs(uint32_t ms);
// False when the system cannot split the time.
bool SystemLocalParts(time_t t, tm& parts);

}  // namespace tk571::platform
