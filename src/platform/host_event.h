// The host's event handle: on this platform an eventfd the host created.
#pragma once

#include <cstdint>

namespace tk571::platform {

// True when the handle names an eventfd of this process. Anything else (a
// regular file, a pipe, a socket, a closed descriptor) is no event: writing
// counters into it would corrupt whatever the host keeps there.
bool IsHostEvent(uint32_t handle);

// Signals the host's event; 0 means none, and a descriptor that is no longer
// an eventfd is left alone.
void SignalHostEvent(uint32_t handle);

}  // namespace tk571::platform
