#include <time.h>

#include "platform/local_time.h"

namespace tk571::platform {

LocalTime ToLocal(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const auto since_epoch = t.time_since_epoch();
  const time_t seconds =
      static_cast<time_t>(duration_cast<std::chrono::seconds>(since_epoch).count());
  int ms = static_cast<int>(duration_cast<milliseconds>(since_epoch).count() % 1000);
  tm parts{};
  localtime_r(&seconds, &parts);
  if (ms < 0) ms += 1000;
  return LocalTime{parts.tm_year + 1900,
                   parts.tm_mon + 1,
                   parts.tm_mday,
                   parts.tm_hour,
                   parts.tm_min,
                   parts.tm_sec,
                   ms,
                   parts.tm_wday};
}

double ToHostDate(const LocalTime& t) {
  using namespace std::chrono;
  const sys_days day = year_month_day{year{t.year}, month{static_cast<unsigned>(t.month)},
                                      std::chrono::day{static_cast<unsigned>(t.day)}};
  const sys_days epoch = year_month_day{year{1899}, month{12}, std::chrono::day{30}};
  const double days = static_cast<double>((day - epoch).count());
  const double fraction =
      (t.hour * 3600000.0 + t.minute * 60000.0 + t.second * 1000.0 + t.millisecond) / 86400000.0;
  return days + fraction;
}

}  // namespace tk571::platform
