#include "backoff.h"

#include <algorithm>

namespace tk571::gateway {

std::chrono::seconds Backoff::Next() {
  const std::chrono::seconds wait = std::min(next_, ceiling_);
  next_ = std::min(next_ * 2, ceiling_);
  return wait;
}

}  // namespace tk571::gateway
