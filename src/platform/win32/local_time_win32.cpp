#include <time.h>

#include "platform/local_time.h"

namespace tk571::platform {

LocalDateTime ToLocalTime(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(t.time_since_epoch());
  const auto secs = floor<seconds>(ms);
  const time_t tt = static_cast<time_t>(secs.count());
  tm parts{};
  LocalDateTime out;
  if (localtime_s(&parts, &tt) != 0) return out;
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

}  // namespace tk571::platform
