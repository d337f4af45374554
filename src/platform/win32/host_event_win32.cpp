#include <cstdint>

#include "platform/host_event.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {

bool IsHostEvent(uint32_t handle) {
  DWORD flags = 0;
  return handle != 0 &&
         GetHandleInformation(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle)), &flags);
}

void SignalHostEvent(uint32_t handle) {
  if (handle == 0) return;
  // A handle that is closed or not an event is the host's affair.
  SetEvent(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle)));
}

}  // namespace tk571::platform
