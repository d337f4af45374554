// A serial line: one character device held for exclusive use, in raw mode,
// read without waiting and written with a bounded wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

enum class SerialOpenResult : uint8_t {
  kOpened,
  kMissing,    // no such device
  kBusy,       // another program holds it
  kNotSerial,  // the path names something that is not a terminal device
  kFailed,     // any other refusal (permissions, ...)
};

// Outcome of one read, write or query. kLineGone means the device has gone
// away (an unplugged adapter, a hung-up line): the descriptor is useless and
// the port should be closed and opened again later.
enum class SerialIo : uint8_t { kOk, kTimeout, kLineGone, kFailed };

// The device behind "Com<index+1>": the environment variable TK571_COM<index+1>
// when it is set and not empty, else /dev/ttyS<index>.
std::string SerialDevicePath(int port_index);

class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort() { Close(); }
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the device without waiting and takes exclusive use of it; a port
  // that another program holds is not opened. Closes a port already open.
  SerialOpenResult Open(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  // Raw mode with the given line settings; kFailed when the device refuses
  // them. Settings a device silently ignores (a pseudo-terminal keeps 8 data
  // bits without parity) are not failures.
  SerialIo Configure(const SerialSettings& settings);
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
  int fd_ = -1;
};

}  // namespace tk571::platform
