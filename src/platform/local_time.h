// Local civil time of the machine, for the run log's date texts.
#pragma once

#include <chrono>

namespace tk571::platform {

struct LocalDateTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

LocalDateTime ToLocalTime(std::chrono::system_clock::time_point t);
// The inverse, for tests and date arithmetic; an hour skipped by a daylight
// saving change is resolved as the system resolves it.
std::chrono::system_clock::time_point FromLocalTime(const LocalDateTime& local);

// Days since 1899-12-30 with the time of day as fraction: the host's date.
double ToHostDate(const LocalDateTime& t);
// The host date of the driver clock's present moment.
double HostDateNow();

}  // namespace tk571::platform
