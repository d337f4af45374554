#include <algorithm>
#include <cerrno>

#include "platform/serial_port.h"
#include "platform/win32/serial_dcb.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {
namespace {

// Queues the driver asks the port driver for, in each direction.
constexpr DWORD kQueueBytes = 2048;
// A read asks only for what is queued, so it completes long before this; the
// bound only matters for a port driver that misbehaves.
constexpr DWORD kReadTimeoutMs = 1000;
constexpr DWORD kWriteTotalTimeoutMs = 5000;
// How long a read that finds nothing queued waits for a first byte. The line
// thread's wait cancels its read before this when its own time ends.
constexpr DWORD kAnyByteTimeoutMs = 60000;

HANDLE AsHandle(void* handle) {
  return static_cast<HANDLE>(handle);
}

// Errors that mean the port has gone: an unplugged adapter answers its open
// handle with these.
bool IsLineGoneError(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_OPERATION_ABORTED:
      return true;
    default:
      return false;
  }
}

SerialIo FromLastError() {
  return IsLineGoneError(GetLastError()) ? SerialIo::kLineGone : SerialIo::kFailed;
}

// One overlapped read or write on the port's completion event. When the wait
// times out the operation is cancelled and its end awaited before returning,
// so that the caller's buffer and the OVERLAPPED record are never written to
// after they are gone.
SerialIo Overlapped(HANDLE port, HANDLE event, bool write, void* buffer, DWORD size,
                    DWORD timeout_ms, DWORD& transferred) {
  transferred = 0;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  ResetEvent(event);
  const BOOL done = write ? WriteFile(port, buffer, size, nullptr, &overlapped)
                          : ReadFile(port, buffer, size, nullptr, &overlapped);
  if (!done && GetLastError() != ERROR_IO_PENDING) return FromLastError();
  if (WaitForSingleObject(event, timeout_ms) != WAIT_OBJECT_0) {
    CancelIo(port);
    GetOverlappedResult(port, &overlapped, &transferred, TRUE);
    ResetEvent(event);
    return SerialIo::kTimeout;
  }
  const BOOL ok = GetOverlappedResult(port, &overlapped, &transferred, FALSE);
  ResetEvent(event);
  return ok ? SerialIo::kOk : FromLastError();
}

}  // namespace

std::string SerialDevicePath(int port_index) {
  const std::string name = "Com" + std::to_string(port_index + 1);
  // Only COM1 to COM9 are known under their bare names.
  return name.size() < 5 ? name : "\\\\?\\" + name;
}

SerialOpenOutcome SerialPort::Open(const std::string& path) {
  Close();
  SerialOpenOutcome outcome;
  // No sharing: a port that another program holds does not open.
  const HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    switch (error) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_NAME:
        outcome.result = SerialOpenResult::kMissing;
        break;
      // A serial port that is open elsewhere answers with access denied: its
      // handle cannot be shared.
      case ERROR_ACCESS_DENIED:
      case ERROR_SHARING_VIOLATION:
        outcome.result = SerialOpenResult::kBusy;
        break;
      default:
        outcome.result = SerialOpenResult::kFailed;
        outcome.error = static_cast<int>(error);
        break;
    }
    return outcome;
  }
  if (GetFileType(port) != FILE_TYPE_CHAR) {
    CloseHandle(port);
    outcome.result = SerialOpenResult::kNotSerial;
    return outcome;
  }
  const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!event) {
    outcome.result = SerialOpenResult::kFailed;
    outcome.error = static_cast<int>(GetLastError());
    CloseHandle(port);
    return outcome;
  }
  handle_ = port;
  event_ = event;
  counted_ = LineErrors();
  return outcome;
}

bool SerialPort::IsOpen() const {
  return handle_ != nullptr;
}

void SerialPort::Close() {
  if (!handle_) return;
  CloseHandle(AsHandle(handle_));
  CloseHandle(AsHandle(event_));
  handle_ = nullptr;
  event_ = nullptr;
  rs485_ = false;
  held_ = -1;
}

SerialIo SerialPort::Configure(const SerialSettings& settings) {
  if (!handle_) return SerialIo::kFailed;
  const HANDLE port = AsHandle(handle_);
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (!GetCommState(port, &dcb)) return FromLastError();
  if (!win32::ApplyToDcb(settings, dcb)) return SerialIo::kFailed;
  if (rs485_) dcb.fRtsControl = RTS_CONTROL_TOGGLE;
  configured_ = SerialConfigured();
  configured_.running = FrameOf(settings);
  if (!SetCommState(port, &dcb)) {
    // A port that cannot take the frame but takes everything else with 8
    // data bits and no parity keeps its own frame (a pseudo-terminal behind
    // wine does); the diagnosis names the frame it refused.
    const DCB plain = win32::WithPlainFrame(dcb);
    if (!SetCommState(port, const_cast<DCB*>(&plain))) return FromLastError();
    configured_.frame_refused = true;
    configured_.running = SerialFrame{8, SerialParity::kNone, settings.stop_bits};
  }
  // Reads return at once with what is queued; writes end within 5 s.
  // A read returns at once with what is queued, or, when nothing is, with the
  // first byte that comes (the line thread's wait), at the latest after the
  // constant.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = kAnyByteTimeoutMs;
  timeouts.WriteTotalTimeoutConstant = kWriteTotalTimeoutMs;
  if (!SetCommTimeouts(port, &timeouts)) return FromLastError();
  if (!SetupComm(port, kQueueBytes, kQueueBytes)) return FromLastError();
  return SerialIo::kOk;
}

int SerialPort::EnableRs485(const SerialRs485& settings, SerialRs485& applied) {
  applied = SerialRs485();
  if (!handle_) return EBADF;
  const HANDLE port = AsHandle(handle_);
  // The port driver's RTS toggle has no delays around the frame.
  int error = settings.delay_before_ms != 0 || settings.delay_after_ms != 0 ? EINVAL : 0;
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (error == 0 && !GetCommState(port, &dcb)) error = EIO;
  if (error == 0) {
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    if (!SetCommState(port, &dcb)) error = EIO;
  }
  if (error != 0) {
    // A transceiver whose driver enable is wired to RTS would hold the bus.
    EscapeCommFunction(port, CLRRTS);
    return error;
  }
  rs485_ = true;
  applied.enabled = true;
  return 0;
}

LineErrors SerialPort::Errors() {
  // The queue status folds the newest errors in.
  std::size_t queued = 0;
  if (handle_) Available(queued);
  return counted_;
}

SerialIo SerialPort::Available(std::size_t& count) {
  count = 0;
  if (!handle_) return SerialIo::kFailed;
  DWORD errors = 0;
  COMSTAT status{};
  // Also clears the line's error state, which would otherwise stop reads.
  if (!ClearCommError(AsHandle(handle_), &errors, &status)) return FromLastError();
  if (errors & CE_RXPARITY) ++counted_.parity;
  if (errors & CE_FRAME) ++counted_.framing;
  if (errors & (CE_OVERRUN | CE_RXOVER)) ++counted_.overrun;
  if (errors & CE_BREAK) ++counted_.breaks;
  if (errors & (CE_RXPARITY | CE_FRAME | CE_OVERRUN | CE_RXOVER | CE_BREAK)) {
    // The mask does not say which of the queued bytes came with the error:
    // none of them is delivered as good data.
    held_ = -1;
    if (!PurgeComm(AsHandle(handle_), PURGE_RXCLEAR)) return FromLastError();
    return SerialIo::kOk;
  }
  count = status.cbInQue + (held_ >= 0 ? 1 : 0);
  return SerialIo::kOk;
}

SerialIo SerialPort::Read(uint8_t* buffer, std::size_t size, std::size_t& count) {
  count = 0;
  // Only what is queued is asked for: the read interval timeout alone does
  // not keep every port driver (wine's among them) from waiting for more.
  std::size_t queued = 0;
  if (const SerialIo status = Available(queued); status != SerialIo::kOk) return status;
  size = std::min(size, queued);
  if (size == 0) return SerialIo::kOk;
  if (held_ >= 0) {
    *buffer++ = static_cast<uint8_t>(held_);
    held_ = -1;
    count = 1;
    if (--size == 0) return SerialIo::kOk;
  }
  DWORD got = 0;
  const SerialIo result = Overlapped(AsHandle(handle_), AsHandle(event_), false, buffer,
                                     static_cast<DWORD>(size), kReadTimeoutMs, got);
  count += got;
  return count > 0 && result == SerialIo::kTimeout ? SerialIo::kOk : result;
}

SerialIo SerialPort::Write(const uint8_t* buffer, std::size_t size, uint32_t timeout_ms,
                           std::size_t& count) {
  count = 0;
  if (!handle_) return SerialIo::kFailed;
  if (size == 0) return SerialIo::kOk;
  DWORD put = 0;
  const SerialIo result =
      Overlapped(AsHandle(handle_), AsHandle(event_), true, const_cast<uint8_t*>(buffer),
                 static_cast<DWORD>(size), timeout_ms, put);
  count = put;
  if (result == SerialIo::kOk && count < size) return SerialIo::kTimeout;
  return result;
}

SerialIo SerialPort::PurgeInput() {
  if (!handle_) return SerialIo::kFailed;
  held_ = -1;
  if (!PurgeComm(AsHandle(handle_), PURGE_RXABORT | PURGE_RXCLEAR)) return FromLastError();
  return SerialIo::kOk;
}

}  // namespace tk571::platform
