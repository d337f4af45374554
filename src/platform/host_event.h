// The host's event handle: on Linux an eventfd the host created, on Windows
// an event handle.
#pragma once

#include <cstdint>

namespace tk571::platform {

// True when the handle can be the host's event. On Linux only an eventfd of
// this process is: anything else (a regular file, a pipe, a socket, a closed
// descriptor) would have counters written into whatever the host keeps there.
// On Windows every open handle is accepted: signalling is SetEvent, which
// changes nothing but an event.
bool IsHostEvent(uint32_t handle);

// Signals the host's event; 0 means none, and a descriptor that is no longer
// an eventfd is left alone.
void SignalHostEvent(uint32_t handle);

}  // namespace tk571::platform
