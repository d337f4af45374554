// Local calendar time.
#pragma once

#include <chrono>

namespace tk571::platform {

struct LocalTime {
  int year, month, day;  // month 1..12
  int hour, minute, second, millisecond;
  int day_of_week;  // 0 = Sunday
};

LocalTime ToLocal(std::chrono::system_clock::time_point t);

// Days since 1899-12-30 with the time of day as fraction: the host's date.
double ToHostDate(const LocalTime& t);

}  // namespace tk571::platform
