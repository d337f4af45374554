#include <unistd.h>

#include <cstdint>

#include "platform/host_event.h"

namespace tk571::platform {

void SignalHostEvent(uint32_t handle) {
  if (handle == 0) return;
  const uint64_t one = 1;
  // A descriptor that is closed or not an eventfd is the host's affair.
  [[maybe_unused]] const ssize_t written = write(static_cast<int>(handle), &one, sizeof(one));
}

}  // namespace tk571::platform
