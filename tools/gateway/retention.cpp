#include "retention.h"

#include "log.h"

namespace tk571::gateway {
namespace {

constexpr int64_t kDayMs = 24 * 60 * 60 * 1000;

}  // namespace

void Retention::Due(int64_t now_ms) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (last_ms_ != 0 && now_ms - last_ms_ < kDayMs) return;
  last_ms_ = now_ms;
  const int64_t before = now_ms - days_ * kDayMs;
  try {
    const int64_t batches = batches_.PruneBefore(before);
    const int64_t entries = audit_.PruneBefore(before);
    if (batches + entries > 0) {
      Log("journal: " + std::to_string(batches) + " batches and " + std::to_string(entries) +
          " audit entries older than " + std::to_string(days_) + " days removed");
    }
  } catch (const JournalError& e) {
    Log(e.what());
  }
}

}  // namespace tk571::gateway
