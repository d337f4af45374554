#include "platform/local_time.h"

#include "platform/clock.h"
#include "platform/system_time.h"

namespace tk571::platform {

LocalDateTime ToLocalTime(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(t.time_since_epoch());
  const auto secs = floor<seconds>(ms);
  tm parts{};
  LocalDateTime out;
  if (!SystemLocalParts(static_cast<time_t>(secs.count()), parts)) return out;
  out.year = parts.tm_year + 1900;
  out.month = parts.tm_mon + 1;
  out.day = parts.tm_mday;
  out.hour = parts.tm_hour;
  out.minute = parts.tm_min;
  out.second = parts.tm_sec;
  out.millisecond = static_cast<int>((ms - secs).count());
  return out;
}

std::chrono::system_clock::time_point FromLocalTime(const LocalDateTime& local) {
  tm parts{};
  parts.tm_year = local.year - 1900;
  parts.tm_mon = local.month - 1;
  parts.tm_mday = local.day;
  parts.tm_hour = local.hour;
  parts.tm_min = local.minute;
  parts.tm_sec = local.second;
  parts.tm_isdst = -1;
  const time_t tt = mktime(&parts);
  return std::chrono::system_clock::from_time_t(tt) + std::chrono::milliseconds(local.millisecond);
}

double ToHostDate(const LocalDateTime& t) {
  using namespace std::chrono;
  const sys_days day = year_month_day{year{t.year}, month{static_cast<unsigned>(t.month)},
                                      std::chrono::day{static_cast<unsigned>(t.day)}};
  const sys_days epoch = year_month_day{year{1899}, month{12}, std::chrono::day{30}};
  const double days = static_cast<double>((day - epoch).count());
  const double ms_of_day =
      t.hour * 3600000.0 + t.minute * 60000.0 + t.second * 1000.0 + t.millisecond;
  return days + ms_of_day / 86400000.0;
}

double HostDateNow() {
  return ToHostDate(ToLocalTime(GetClock().Now()));
}

}  // namespace tk571::platform
