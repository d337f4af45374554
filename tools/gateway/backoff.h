// How long to wait before the next connection attempt: 1 s after the first
// failure, doubling up to a ceiling, and back to the start once connected.
#pragma once

#include <chrono>

namespace tk571::gateway {

class Backoff {
 public:
  explicit Backoff(std::chrono::seconds ceiling) : ceiling_(ceiling) {}
  // The wait before the next attempt; each call doubles the following one.
  std::chrono::seconds Next();
  void Reset() { next_ = kFirst; }

 private:
  static constexpr std::chrono::seconds kFirst{1};
  std::chrono::seconds ceiling_;
  std::chrono::seconds next_ = kFirst;
};

}  // namespace tk571::gateway
