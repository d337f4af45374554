#include "log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>

namespace tk571::gateway {
namespace {

constexpr std::size_t kShownBytes = 40;

std::atomic<LogFormat> format{LogFormat::kText};

}  // namespace

void SetLogFormat(LogFormat chosen) {
  format = chosen;
}

void Log(std::string_view text) {
  static std::mutex mutex;
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  const bool json = format == LogFormat::kJson;
  std::tm time{};
  if (json) {
    gmtime_r(&seconds, &time);
  } else {
    localtime_r(&seconds, &time);
  }
  char stamp[32];
  const std::size_t n =
      std::strftime(stamp, sizeof stamp, json ? "%Y-%m-%dT%H:%M:%S" : "%Y-%m-%d %H:%M:%S", &time);
  std::snprintf(stamp + n, sizeof stamp - n, json ? ".%03dZ" : ".%03d", static_cast<int>(millis));
  const std::string line =
      json ? nlohmann::json{{"time", stamp}, {"message", std::string(text)}}.dump(
                 -1, ' ', false, nlohmann::json::error_handler_t::replace)
           : std::string(stamp) + "  " + std::string(text);
  const std::lock_guard<std::mutex> lock(mutex);
  std::cout << line << std::endl;
}

std::string Printable(std::string_view text) {
  std::string shown = "\"";
  for (const char c : text.substr(0, kShownBytes)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      shown += '\\';
      shown += c;
    } else if (byte < 0x20 || byte >= 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      shown += escaped;
    } else {
      shown += c;
    }
  }
  shown += '"';
  if (text.size() > kShownBytes) shown += "... (" + std::to_string(text.size()) + " bytes)";
  return shown;
}

}  // namespace tk571::gateway
