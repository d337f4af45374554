// Waits that end when the controller's answer is in, not after a fixed time.
#include "platform/clock.h"
#include "platform/line_wait.h"
#include "protocol/custom_dll_object.h"

namespace tk571 {

const std::string& TCustomDLLObject::AwaitReply(
    uint32_t limit_ms, const std::function<bool(const std::string&)>& complete) {
  static const std::string kNothing;
  if (!Comm_) return kNothing;
  const uint32_t start = platform::Tick();
  for (;;) {
    const std::string& received = Comm_->Receive();
    const uint32_t passed = platform::TicksSince(start);
    // A stopping line thread's waits end at once: its time no longer runs.
    if (complete(received) || passed >= limit_ms || platform::LineClosing()) return received;
    Comm_->AwaitBytes(limit_ms - passed);
  }
}

}  // namespace tk571
