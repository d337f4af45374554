// The driver's serial line: one port opened with the settings of the device
// parameter block, one request sent at a time, and whatever the controller
// has answered so far collected in a receive buffer. Framing and parsing are
// the protocol layer's; it polls Receive until an answer is complete.
//
// An object is used by one thread at a time (the polling thread of the driver
// object that owns it). Every operation completes before it returns, so no
// read or write is ever left in progress.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/serial_port.h"

namespace tk571 {

class TDevicePDB;
class TCommClass;

// The settings tables, indexed by the codes of the parameter block.
inline constexpr std::array<uint32_t, 15> kCommBaudRates = {110,   300,   600,    1200,   2400,
                                                            4800,  9600,  14400,  19200,  38400,
                                                            56000, 57600, 115200, 128000, 256000};
// Data bits code 0 (4 bits) has no Linux line to match and counts as a fault.
inline constexpr std::array<uint8_t, 5> kCommDataBits = {4, 5, 6, 7, 8};
inline constexpr std::array<platform::SerialParity, 5> kCommParities = {
    platform::SerialParity::kNone, platform::SerialParity::kOdd, platform::SerialParity::kEven,
    platform::SerialParity::kMark, platform::SerialParity::kSpace};
inline constexpr std::array<platform::SerialStopBits, 3> kCommStopBits = {
    platform::SerialStopBits::kOne, platform::SerialStopBits::kOneAndHalf,
    platform::SerialStopBits::kTwo};

// Option flags, a bit set. Only parity checking has a counterpart in a Linux
// line (INPCK); the others are kept as settings, and their "off" state is how
// a raw Linux line behaves anyway.
inline constexpr uint8_t kCommParityCheck = 1u << 0;
inline constexpr uint8_t kCommDsrSensitivity = 1u << 1;
inline constexpr uint8_t kCommTxContinueOnXoff = 1u << 2;
inline constexpr uint8_t kCommErrorChar = 1u << 3;
inline constexpr uint8_t kCommNullDiscard = 1u << 4;

// Flow control modes.
inline constexpr uint8_t kCommFlowNone = 0;
inline constexpr uint8_t kCommFlowRtsCts = 1;
inline constexpr uint8_t kCommFlowDsrDtr = 2;
inline constexpr uint8_t kCommFlowXonXoff = 3;
inline constexpr uint8_t kCommFlowKeep = 4;  // the port's own setting

// The five special characters of the line. Changing one re-applies the line
// settings of the owning port when it is open. A raw Linux line uses only
// XonChar and XoffChar (with XON/XOFF flow control); ErrorChar, EofChar and
// EvtChar have no counterpart there and are kept only as settings.
class TCommEventChars {
 public:
  explicit TCommEventChars(TCommClass& owner) : owner_(owner) {}
  TCommEventChars(const TCommEventChars&) = delete;
  // Copies the five characters, not the owner.
  TCommEventChars& operator=(const TCommEventChars& other);

  uint8_t XonChar() const { return xon_; }
  uint8_t XoffChar() const { return xoff_; }
  uint8_t ErrorChar() const { return error_; }
  uint8_t EofChar() const { return eof_; }
  uint8_t EvtChar() const { return evt_; }
  void SetXonChar(uint8_t c) { Set(xon_, c); }
  void SetXoffChar(uint8_t c) { Set(xoff_, c); }
  void SetErrorChar(uint8_t c) { Set(error_, c); }
  void SetEofChar(uint8_t c) { Set(eof_, c); }
  void SetEvtChar(uint8_t c) { Set(evt_, c); }

 private:
  void Set(uint8_t& field, uint8_t c);

  TCommClass& owner_;
  uint8_t xon_ = 17;
  uint8_t xoff_ = 19;
  uint8_t error_ = 0;
  uint8_t eof_ = 0;
  uint8_t evt_ = 0;
};

class TCommClass {
 public:
  static constexpr std::size_t kMaxRequestChars = 255;
  static constexpr uint32_t kOpenRetryMs = 5000;
  static constexpr uint32_t kOpenRetryPauseMs = 50;
  static constexpr uint32_t kReconnectIntervalMs = 1000;
  static constexpr uint32_t kDefaultTimeoutMs = 1000;
  static constexpr std::size_t kDefaultBufferSize = 2048;

  // Create. The port stays closed until Open. With `clear_before_send` every
  // Send starts a new answer (the driver passes true).
  explicit TCommClass(bool clear_before_send);
  // Destroy: closes the port.
  virtual ~TCommClass() = default;
  TCommClass(const TCommClass&) = delete;
  TCommClass& operator=(const TCommClass&) = delete;

  // Opens the port named in the block ("Com1".."Com16") with its line
  // settings, trying for up to 5000 ms. `message` receives the status text:
  // "ComN打开成功", "ComN不存在或被其它程序占用！", "Error initializing
  // Read/Write Buffers" (the device refused the line settings), or
  // "设备参数中的串口设置有误!" for a block whose serial settings are outside
  // their tables, in which case nothing is opened. Text mode false sends and
  // receives hexadecimal digit pairs. An open port is closed first and the
  // receive buffer emptied. Returns whether the port is open.
  bool Open(const TDevicePDB& pdb, bool text_mode, std::string& message);
  // Sends at most the first 255 characters of `request` after discarding
  // everything received so far. A closed port is reopened first, with one
  // attempt at most once a second, so a missing device never holds the
  // caller up. False when the request was not sent whole, or in hex mode
  // when it holds a character that is not a hexadecimal digit (nothing is
  // sent then).
  bool Send(std::string_view request);
  // Appends what the line has queued (at most the input buffer size per
  // call, never waiting) to the receive buffer and returns the whole buffer.
  const std::string& Receive();
  // Replaces the receive buffer, to keep an unconsumed remainder.
  void SetReceiveBuffer(std::string text) { receive_buffer_ = std::move(text); }
  // Closes the port; Send does not reopen it until the next Open.
  void Close();

  bool IsOpen() const { return port_.IsOpen(); }
  // The device, for a wait on its arriving bytes.
  const platform::SerialPort& Port() const { return port_; }
  const std::string& PortName() const { return port_name_; }
  const std::string& StatusText() const { return status_text_; }
  // The device behind the port and the outcome of the last connection, in
  // plain words for the run log, for example "Com1 (/dev/ttyUSB0): permission
  // denied, add the user to group dialout" or "Com1 (/dev/ttyS1): opened,
  // RS-485 direction control on". Empty before the first attempt.
  const std::string& Diagnosis() const { return diagnosis_; }
  const std::string& ReceiveBuffer() const { return receive_buffer_; }
  bool TextMode() const { return text_mode_; }

  // Parity, framing, overrun and break errors of the line since Open, over
  // every reconnection. A byte that came with an error never reaches the
  // receive buffer.
  platform::LineErrors LineErrorCounts();
  // The errors counted since the last call (since Open for the first): an
  // answer received while any was counted cannot be trusted.
  platform::LineErrors TakeLineErrors();
  // The run log's text for a line that keeps showing framing errors while
  // no answer can be understood: "ComN (PATH): N framing errors and no
  // answer understood: ..." naming the baud rate and the line format, which
  // may differ from the controllers', and two controllers with one device
  // number answering at once.
  std::string FramingDiagnosis(uint32_t framing_errors) const;

  TCommEventChars& EventChars() { return event_chars_; }
  const TCommEventChars& EventChars() const { return event_chars_; }
  uint8_t Options() const { return options_; }
  // Takes effect at the next (re)connection or flow control change.
  void SetOptions(uint8_t options) { options_ = options & 0x1Fu; }
  uint8_t FlowControl() const { return flow_control_; }
  // Modes outside 0..4 are ignored; re-applies the line settings when open.
  void SetFlowControl(uint8_t mode);
  uint32_t WriteTimeout() const { return write_timeout_ms_; }
  void SetWriteTimeout(uint32_t ms) { write_timeout_ms_ = ms; }
  std::size_t InputBufferSize() const { return scratch_.size(); }
  // The most a single Receive takes from the line; at least 1.
  void SetInputBufferSize(std::size_t size) { scratch_.assign(size > 0 ? size : 1, 0); }

  // The line settings the port is opened with, from the current indexes.
  platform::SerialSettings LineSettings() const;

 protected:
  // Opens the device of the current port, trying again with a short pause
  // until it opens or `retry_ms` have passed since the first try (0: once).
  virtual bool OpenDevice(uint32_t retry_ms);
  // The errors the open device counted since it was opened. A test counts
  // errors here that no pseudo-terminal can carry.
  virtual platform::LineErrors PortErrors() { return port_.Errors(); }

 private:
  friend class TCommEventChars;

  bool Connect(uint32_t retry_ms);
  // Switches on RS-485 direction control when the port's environment asks
  // for it; the outcome goes into the diagnosis.
  void ApplyRs485();
  bool ApplySettings();
  bool MayReconnect() const;
  void Purge();
  bool WriteBytes(std::string_view bytes);
  void ReadAvailable(std::size_t count);
  // The device went away under us: close, so that Send can reconnect.
  void LineLost() { ClosePort(); }
  // Keeps the counts of the connection that ends.
  void ClosePort();
  // What the device made of the line settings, for the diagnosis.
  std::string ConfiguredText() const;
  void EventCharsChanged();

  platform::SerialPort port_;
  bool clear_before_send_;
  bool text_mode_ = true;
  std::string port_name_ = "Com1";
  int port_index_ = 0;
  std::string status_text_;
  std::string device_path_;
  platform::SerialOpenOutcome last_open_;
  std::string diagnosis_;
  std::string receive_buffer_;
  // Errors of the connections closed since Open, and the total last taken.
  platform::LineErrors closed_errors_;
  platform::LineErrors taken_errors_;
  uint32_t write_timeout_ms_ = kDefaultTimeoutMs;
  std::vector<uint8_t> scratch_;
  uint8_t baud_index_ = 8;
  uint8_t parity_index_ = 2;
  uint8_t stop_bits_index_ = 0;
  uint8_t data_bits_index_ = 4;
  uint8_t options_ = 0;
  uint8_t flow_control_ = kCommFlowKeep;
  TCommEventChars event_chars_{*this};
  // Send may (re)connect after an Open with valid settings, until Close.
  bool may_connect_ = false;
  uint32_t last_attempt_tick_ = 0;
};

}  // namespace tk571
