#include "protocol/local_echo.h"

#include <algorithm>

namespace tk571 {

void EchoFilter::Sent(std::string_view request) {
  pending_ = mode_ == platform::SerialEcho::kOff ? std::string() : std::string(request);
}

EchoFilter::Verdict EchoFilter::Judge(std::string_view received) {
  if (pending_.empty() || received.empty()) return {};
  const std::size_t n = std::min(received.size(), pending_.size());
  // Recognised, the echo is the request itself; forced on, whatever the
  // adapter gave back in its place.
  if (mode_ == platform::SerialEcho::kAuto && received.substr(0, n) != pending_.substr(0, n)) {
    pending_.clear();
    return {};
  }
  if (n < pending_.size()) return {0, true};
  const std::size_t strip = pending_.size();
  pending_.clear();
  ++stripped_;
  return {strip, false};
}

}  // namespace tk571
