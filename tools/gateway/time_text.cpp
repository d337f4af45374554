#include "time_text.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace tk571::gateway {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string UtcText(int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
  return text;
}

std::optional<int64_t> ParseTime(const std::string& text) {
  std::tm parts{};
  int consumed = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  std::string rest = text;
  const bool utc = !rest.empty() && rest.back() == 'Z';
  if (utc) rest.pop_back();
  const char* s = rest.c_str();
  if (std::sscanf(s, "%4d-%2d-%2d%n", &parts.tm_year, &parts.tm_mon, &parts.tm_mday, &consumed) !=
      3) {
    return std::nullopt;
  }
  s += consumed;
  if (*s == 'T' || *s == ' ') {
    consumed = 0;
    if (std::sscanf(s + 1, "%2d:%2d%n", &hour, &minute, &consumed) != 2) return std::nullopt;
    s += 1 + consumed;
    if (*s == ':') {
      consumed = 0;
      if (std::sscanf(s + 1, "%2d%n", &second, &consumed) != 1) return std::nullopt;
      s += 1 + consumed;
    }
  }
  if (*s != '\0' || parts.tm_mon < 1 || parts.tm_mon > 12 || parts.tm_mday < 1 ||
      parts.tm_mday > 31 || hour > 23 || minute > 59 || second > 60) {
    return std::nullopt;
  }
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  const std::time_t t = utc ? timegm(&parts) : std::mktime(&parts);
  return static_cast<int64_t>(t) * 1000;
}

}  // namespace tk571::gateway
