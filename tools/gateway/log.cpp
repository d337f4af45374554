#include "log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <mutex>

namespace tk571::gateway {

void Log(std::string_view text) {
  static std::mutex mutex;
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(stamp + n, sizeof stamp - n, ".%03d", static_cast<int>(millis));
  const std::lock_guard<std::mutex> lock(mutex);
  std::cout << stamp << "  " << text << std::endl;
}

}  // namespace tk571::gateway
