// The line thread's wait on Windows: an auto-reset event for the wake-up and,
// while a port is watched, an overlapped WaitCommEvent for its first byte,
// both under one WaitForMultipleObjects.
#include <cstdint>

#include "platform/line_wait.h"
#include "platform/serial_port.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {

namespace {

HANDLE AsHandle(intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

// Bytes the driver of the port has queued for reading.
bool Queued(HANDLE port) {
  DWORD errors = 0;
  COMSTAT status{};
  return ClearCommError(port, &errors, &status) && status.cbInQue > 0;
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
  return port && port->handle_ && Queued(static_cast<HANDLE>(port->handle_));
}

LineWake LineWaiter::Wait(const SerialPort* port, uint32_t timeout_ms) {
  const DWORD timeout = timeout_ms == kWaitForever ? INFINITE : timeout_ms;
  const HANDLE wake = AsHandle(event_);
  const HANDLE device = port ? static_cast<HANDLE>(port->handle_) : nullptr;
  if (!device) {
    const DWORD woke = WaitForSingleObject(wake, timeout);
    return woke == WAIT_OBJECT_0 ? LineWake::kWoken : LineWake::kTimedOut;
  }
  if (Queued(device)) return LineWake::kReadable;
  // The port's own event belongs to its reads and writes: the mask wait
  // has one of its own.
  OVERLAPPED arrival{};
  arrival.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD mask = 0;
  LineWake result = LineWake::kTimedOut;
  if (arrival.hEvent && SetCommMask(device, EV_RXCHAR)) {
    if (WaitCommEvent(device, &mask, &arrival)) {
      result = LineWake::kReadable;
    } else if (GetLastError() == ERROR_IO_PENDING) {
      const HANDLE events[2] = {wake, arrival.hEvent};
      const DWORD woke = WaitForMultipleObjects(2, events, FALSE, timeout);
      if (woke == WAIT_OBJECT_0) result = LineWake::kWoken;
      if (woke == WAIT_OBJECT_0 + 1) result = LineWake::kReadable;
      if (woke != WAIT_OBJECT_0 + 1) {
        CancelIoEx(device, &arrival);
        DWORD ignored = 0;
        GetOverlappedResult(device, &arrival, &ignored, TRUE);
      }
    } else {
      // A device that refuses the wait (gone): sleep out the time, wakeable.
      const DWORD woke = WaitForSingleObject(wake, timeout);
      result = woke == WAIT_OBJECT_0 ? LineWake::kWoken : LineWake::kTimedOut;
    }
  }
  if (arrival.hEvent) CloseHandle(arrival.hEvent);
  return result;
}

}  // namespace tk571::platform
