// The line thread's wait on Windows: an auto-reset event for the wake-up and,
// while a port is watched, an overlapped read of its first byte, both under
// one WaitForMultipleObjects. The byte read is held by the port until the
// next read. (A mask wait, WaitCommEvent, would do as well on Windows; under
// wine a cancelled one leaves the serial driver writing into the library
// after it has been unloaded.)
#include <cstddef>
#include <cstdint>

#include "platform/line_wait.h"
#include "platform/serial_port.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {

namespace {

HANDLE AsHandle(intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

}  // namespace

LineWaiter::LineWaiter()
    : event_(reinterpret_cast<intptr_t>(CreateEventA(nullptr, FALSE, FALSE, nullptr))) {}

LineWaiter::~LineWaiter() {
  if (event_) CloseHandle(AsHandle(event_));
}

void LineWaiter::Wake() {
  SetEvent(AsHandle(event_));
}

bool LineWaiter::HasBytes(const SerialPort* port) {
  if (!port || !port->handle_) return false;
  // Through the port's own query, which counts the line errors that
  // ClearCommError reports (and clears) and discards what came with them.
  // Only the line thread uses the port.
  std::size_t queued = 0;
  return const_cast<SerialPort&>(*port).Available(queued) == SerialIo::kOk && queued > 0;
}

LineWake LineWaiter::Wait(const SerialPort* port, uint32_t timeout_ms) {
  const DWORD timeout = timeout_ms == kWaitForever ? INFINITE : timeout_ms;
  const HANDLE wake = AsHandle(event_);
  if (!port || !port->handle_) {
    const DWORD woke = WaitForSingleObject(wake, timeout);
    return woke == WAIT_OBJECT_0 ? LineWake::kWoken : LineWake::kTimedOut;
  }
  if (HasBytes(port)) return LineWake::kReadable;
  // Only the line thread reads the port, so its completion event is free.
  auto& held = const_cast<SerialPort&>(*port);
  const HANDLE device = static_cast<HANDLE>(held.handle_);
  const HANDLE done = static_cast<HANDLE>(held.event_);
  uint8_t byte = 0;
  OVERLAPPED first{};
  first.hEvent = done;
  ResetEvent(done);
  LineWake result = LineWake::kTimedOut;
  if (!ReadFile(device, &byte, 1, nullptr, &first) && GetLastError() != ERROR_IO_PENDING) {
    // A device that refuses the read (gone): sleep out the time, wakeable.
    const DWORD woke = WaitForSingleObject(wake, timeout);
    return woke == WAIT_OBJECT_0 ? LineWake::kWoken : LineWake::kTimedOut;
  }
  const HANDLE events[2] = {wake, done};
  const DWORD woke = WaitForMultipleObjects(2, events, FALSE, timeout);
  if (woke == WAIT_OBJECT_0) result = LineWake::kWoken;
  // The read ends before its buffer goes; a byte that came meanwhile counts.
  if (woke != WAIT_OBJECT_0 + 1) CancelIoEx(device, &first);
  DWORD got = 0;
  GetOverlappedResult(device, &first, &got, TRUE);
  ResetEvent(done);
  if (got == 1) {
    held.held_ = byte;
    result = LineWake::kReadable;
  }
  return result;
}

}  // namespace tk571::platform
