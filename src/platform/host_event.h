// The host's event handle: on this platform an eventfd the host created.
#pragma once

#include <cstdint>

namespace tk571::platform {

// Signals the host's event; 0 means none, and a descriptor that cannot be
// written is ignored.
void SignalHostEvent(uint32_t handle);

}  // namespace tk571::platform
