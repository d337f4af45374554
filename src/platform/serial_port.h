// A serial line: one character device held for exclusive use, in raw mode,
// read without waiting and written with a bounded wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/line_errors.h"
#include "platform/parmrk_decoder.h"
#include "platform/serial_diagnosis.h"

namespace tk571::platform {

enum class SerialParity : uint8_t { kNone, kOdd, kEven, kMark, kSpace };
enum class SerialStopBits : uint8_t { kOne, kOneAndHalf, kTwo };
// kDsrDtr has no counterpart in a Linux line and is treated as kNone; kKeep
// keeps the device's hardware flow control as it was found.
enum class SerialFlow : uint8_t { kNone, kRtsCts, kDsrDtr, kXonXoff, kKeep };

struct SerialSettings {
  uint32_t baud = 9600;
  uint8_t data_bits = 8;  // 5..8
  SerialParity parity = SerialParity::kNone;
  SerialStopBits stop_bits = SerialStopBits::kOne;
  SerialFlow flow = SerialFlow::kNone;
  bool parity_check = false;  // check the parity of received bytes
  uint8_t xon_char = 0x11;    // used with SerialFlow::kXonXoff
  uint8_t xoff_char = 0x13;
};

// The character frame of a line, e.g. 8E1.
struct SerialFrame {
  uint8_t data_bits = 8;
  SerialParity parity = SerialParity::kNone;
  SerialStopBits stop_bits = SerialStopBits::kOne;
  bool operator==(const SerialFrame&) const = default;
};
SerialFrame FrameOf(const SerialSettings& settings);
// "8E1", "7O2", "8N1.5"; parity letters N O E M S.
std::string FrameName(const SerialFrame& frame);

// Whether the device delivers received bytes at once (ASYNC_LOW_LATENCY; an
// FTDI adapter otherwise holds them up to its 16 ms latency timer).
enum class SerialLowLatency : uint8_t {
  kNotAsked,  // the device has no such setting (a pseudo-terminal, Windows)
  kOn,
  kRefused,  // asked for, and the device refused or ignored it
};

// What the device made of the last Configure.
struct SerialConfigured {
  // The device keeps another frame than the one asked for. On Linux a
  // pseudo-terminal (which has no line and always runs 8N1) is never counted
  // as refusing; on Windows the port then runs `running`.
  bool frame_refused = false;
  SerialFrame running;
  SerialLowLatency low_latency = SerialLowLatency::kNotAsked;
  int low_latency_error = 0;  // errno of a refusal; 0 when it was ignored
};

// RS-485 direction control by the kernel: RTS is raised while sending, with
// delays before and after. Needs a UART driver that supports it. Windows'
// port drivers toggle RTS without delays.
struct SerialRs485 {
  bool enabled = false;
  uint32_t delay_before_ms = 0;
  uint32_t delay_after_ms = 0;
};

// Outcome of one read, write or query. kLineGone means the device has gone
// away (an unplugged adapter, a hung-up line): the descriptor is useless and
// the port should be closed and opened again later.
enum class SerialIo : uint8_t { kOk, kTimeout, kLineGone, kFailed };

// The device behind "Com<index+1>". Linux: the environment variable
// TK571_COM<index+1> when it is set and not empty, else /dev/ttyS<index>.
// Windows: the port name itself, with the prefix "\\?\" from "Com10" on.
std::string SerialDevicePath(int port_index);
// TK571_COM<index+1>_RS485=1 switches RS-485 direction control on for that
// port; TK571_COM<index+1>_RS485_DELAY_BEFORE and _DELAY_AFTER give the RTS
// delays in ms (0 when unset or not a number).
SerialRs485 SerialRs485Setting(int port_index);

class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort() { Close(); }
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the device without waiting and takes exclusive use of it; a port
  // that another program holds (a live UUCP lock file, a lock, TIOCEXCL, or
  // just an open descriptor; on Windows a handle of another program) is not
  // opened. Closes a port already open.
  SerialOpenOutcome Open(const std::string& path);
  bool IsOpen() const;
  // Raw mode with the given line settings, received bytes marked with their
  // errors, and low latency asked for; kFailed when the device refuses them.
  // A frame the device does not take makes kFailed on Linux, except on a
  // pseudo-terminal, which keeps 8 data bits without parity; Windows runs the
  // port with 8 data bits without parity then (a pseudo-terminal behind wine
  // does so). Configured() tells what was taken.
  SerialIo Configure(const SerialSettings& settings);
  const SerialConfigured& Configured() const { return configured_; }
  // Switches the kernel's RS-485 mode on; 0 or the errno of the refusal (a
  // pseudo-terminal or a UART without RS-485 support refuses; Windows refuses
  // delays with EINVAL and keeps the mode until the port is closed).
  // `applied` receives what the kernel reports back: the delays it took.
  // After a refusal RTS is dropped, so that a transceiver whose driver
  // enable is wired to RTS does not hold the bus.
  int EnableRs485(const SerialRs485& settings, SerialRs485& applied);
  // Line errors counted since Open: Linux takes them from the device's
  // interrupt counters (TIOCGICOUNT) where it keeps them, else from the marks
  // of the received bytes (no overruns then); Windows from the error mask of
  // ClearCommError, one per kind and query. Bytes that came with an error
  // are never delivered (Windows discards what was queued with them).
  LineErrors Errors();
  // Bytes the device has queued for reading.
  SerialIo Available(std::size_t& count);
  // Reads what is queued, at most `size` bytes, never waiting.
  SerialIo Read(uint8_t* buffer, std::size_t size, std::size_t& count);
  // Writes all `size` bytes, waiting at most `timeout_ms` for the device to
  // take them; kTimeout when it did not take them all in time.
  SerialIo Write(const uint8_t* buffer, std::size_t size, uint32_t timeout_ms, std::size_t& count);
  // Discards what the device has received and not yet been read.
  SerialIo PurgeInput();
  // Gives up exclusive use and closes the device; harmless when closed.
  void Close();

 private:
  // The line thread's wait watches the descriptor for bytes.
  friend class LineWaiter;
#ifdef _WIN32
  void* handle_ = nullptr;  // opened for overlapped I/O
  void* event_ = nullptr;   // manual-reset completion event of reads and writes
  bool rs485_ = false;      // RTS toggles around each write
  // The first byte of a reply, taken off the port by the line thread's wait
  // (an overlapped read); -1 for none. Reads deliver it first.
  int held_ = -1;
  LineErrors counted_;  // from the error masks
#else
  int fd_ = -1;
  ParmrkDecoder marks_;
  bool marking_ = false;  // the device marks bytes with errors (PARMRK)
  LineErrors marked_;     // counted from the marks
  // The device's counters at Open, when it has them.
  bool has_icount_ = false;
  LineErrors icount_at_open_;
#endif
  SerialConfigured configured_;
};

}  // namespace tk571::platform
