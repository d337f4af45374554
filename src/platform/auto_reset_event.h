// An auto-reset event: Set() lets exactly one waiter through.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tk571::platform {

// On Windows an event object of the system, elsewhere a mutex and a
// condition variable.
class AutoResetEvent {
 public:
  explicit AutoResetEvent(bool signalled);
  ~AutoResetEvent();
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;
  // Waits at most `timeout_ms`; true when the event was obtained (and reset).
  bool Wait(uint32_t timeout_ms);
  void Set();

 private:
#ifdef _WIN32
  void* handle_;
#else
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_;
#endif
};

}  // namespace tk571::platform
