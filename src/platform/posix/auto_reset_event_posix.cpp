#include "platform/auto_reset_event.h"
#include "platform/clock.h"

namespace tk571::platform {

AutoResetEvent::AutoResetEvent(bool signalled) : signalled_(signalled) {}

AutoResetEvent::~AutoResetEvent() = default;

bool AutoResetEvent::Wait(uint32_t timeout_ms) {
  std::unique_lock lock(mutex_);
  if (!GetClock().WaitFor(cv_, lock, timeout_ms, [this] { return signalled_; })) return false;
  signalled_ = false;
  return true;
}

void AutoResetEvent::Set() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_one();
}

}  // namespace tk571::platform
