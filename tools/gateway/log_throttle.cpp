#include "log_throttle.h"

namespace tk571::gateway {

bool LogThrottle::Admit(const std::string& key, Clock::time_point now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Window& window = windows_.try_emplace(key, Window{now, 0, 0}).first->second;
  if (window.held_back == 0 && now - window.start >= interval_) window = Window{now, 0, 0};
  if (window.logged < burst_) {
    ++window.logged;
    return true;
  }
  ++window.held_back;
  return false;
}

std::vector<std::string> LogThrottle::Summaries(Clock::time_point now) {
  std::vector<std::string> lines;
  const std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = windows_.begin(); it != windows_.end();) {
    Window& window = it->second;
    if (now - window.start < interval_) {
      ++it;
      continue;
    }
    if (window.held_back > 0) {
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - window.start);
      lines.push_back(it->first + ": " + std::to_string(window.held_back) + " more in the last " +
                      std::to_string(seconds.count()) + " s");
    }
    it = windows_.erase(it);
  }
  return lines;
}

}  // namespace tk571::gateway
