#include "platform/auto_reset_event.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {

AutoResetEvent::AutoResetEvent(bool signalled)
    : handle_(CreateEventA(nullptr, FALSE, signalled ? TRUE : FALSE, nullptr)) {}

AutoResetEvent::~AutoResetEvent() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

bool AutoResetEvent::Wait(uint32_t timeout_ms) {
  return handle_ && WaitForSingleObject(static_cast<HANDLE>(handle_), timeout_ms) == WAIT_OBJECT_0;
}

void AutoResetEvent::Set() {
  if (handle_) SetEvent(static_cast<HANDLE>(handle_));
}

}  // namespace tk571::platform
