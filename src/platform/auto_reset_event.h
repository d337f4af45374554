// An auto-reset event: Set() lets exactly one waiter through.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tk571::platform {

class AutoResetEvent {
 public:
  explicit AutoResetEvent(bool signalled) : signalled_(signalled) {}
  // Waits at most `timeout_ms`; true when the event was obtained (and reset).
  bool Wait(uint32_t timeout_ms);
  void Set();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_;
};

}  // namespace tk571::platform
