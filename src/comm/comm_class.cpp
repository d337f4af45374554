#include "comm/comm_class.h"

#include <algorithm>
#include <cstring>

#include "config/device_pdb.h"
#include "platform/clock.h"
#include "platform/gbk.h"
#include "platform/line_wait.h"

namespace tk571 {
namespace {

constexpr std::size_t kPortCount = 16;
constexpr char kBuffersError[] = "Error initializing Read/Write Buffers";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Consecutive pairs of hexadecimal digits, one byte each; an odd last
// character is ignored.
bool DecodeHex(std::string_view text, std::string& bytes) {
  bytes.clear();
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<char>(high << 4 | low));
  }
  return true;
}

void AppendHex(const uint8_t* bytes, std::size_t count, std::string& out) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 0x0F]);
  }
}

platform::SerialFlow FlowOf(uint8_t mode) {
  switch (mode) {
    case kCommFlowNone:
      return platform::SerialFlow::kNone;
    case kCommFlowRtsCts:
      return platform::SerialFlow::kRtsCts;
    case kCommFlowDsrDtr:
      return platform::SerialFlow::kDsrDtr;
    case kCommFlowXonXoff:
      return platform::SerialFlow::kXonXoff;
    default:
      return platform::SerialFlow::kKeep;
  }
}

}  // namespace

TCommEventChars& TCommEventChars::operator=(const TCommEventChars& other) {
  if (this == &other) return *this;
  xon_ = other.xon_;
  xoff_ = other.xoff_;
  error_ = other.error_;
  eof_ = other.eof_;
  evt_ = other.evt_;
  owner_.EventCharsChanged();
  return *this;
}

void TCommEventChars::Set(uint8_t& field, uint8_t c) {
  field = c;
  owner_.EventCharsChanged();
}

TCommClass::TCommClass(bool clear_before_send)
    : clear_before_send_(clear_before_send), scratch_(kDefaultBufferSize, 0) {}

bool TCommClass::Open(const TDevicePDB& pdb, bool text_mode, std::string& message) {
  port_.Close();
  closed_errors_ = platform::LineErrors();
  taken_errors_ = platform::LineErrors();
  // Whatever was received belongs to the connection being replaced.
  receive_buffer_.clear();
  text_mode_ = text_mode;
  // Codes outside the tables come only from a damaged block; opening a
  // guessed port or line setting would be worse than not opening at all.
  if (pdb.Port() >= kPortCount || pdb.BaudIndex() >= kCommBaudRates.size() ||
      pdb.DataBitsCode() == 0 || pdb.DataBitsCode() >= kCommDataBits.size() ||
      pdb.ParityCode() >= kCommParities.size() || pdb.StopBitsCode() >= kCommStopBits.size()) {
    may_connect_ = false;
    status_text_ = TK571_GBK("设备参数中的串口设置有误!");
    diagnosis_ = "port or line settings of the parameter block outside the driver's tables";
    message = status_text_;
    return false;
  }
  port_index_ = pdb.Port();
  port_name_ = "Com" + std::to_string(port_index_ + 1);
  baud_index_ = pdb.BaudIndex();
  data_bits_index_ = pdb.DataBitsCode();
  stop_bits_index_ = pdb.StopBitsCode();
  parity_index_ = pdb.ParityCode();
  options_ = kCommParityCheck;
  flow_control_ = kCommFlowKeep;
  may_connect_ = true;
  Connect(kOpenRetryMs);
  message = status_text_;
  return port_.IsOpen();
}

platform::SerialSettings TCommClass::LineSettings() const {
  platform::SerialSettings s;
  s.baud = kCommBaudRates[baud_index_];
  s.data_bits = kCommDataBits[data_bits_index_];
  s.parity = kCommParities[parity_index_];
  s.stop_bits = kCommStopBits[stop_bits_index_];
  s.flow = FlowOf(flow_control_);
  s.parity_check = (options_ & kCommParityCheck) != 0;
  s.xon_char = event_chars_.XonChar();
  s.xoff_char = event_chars_.XoffChar();
  return s;
}

bool TCommClass::OpenDevice(uint32_t retry_ms) {
  device_path_ = platform::SerialDevicePath(port_index_);
  const uint32_t start = platform::Tick();
  for (;;) {
    last_open_ = port_.Open(device_path_);
    if (last_open_.result == platform::SerialOpenResult::kOpened) return true;
    // A stopping line thread's pauses end at once: its time no longer runs.
    if (platform::TicksSince(start) >= retry_ms || platform::LineClosing()) return false;
    platform::SleepMs(kOpenRetryPauseMs);
  }
}

bool TCommClass::Connect(uint32_t retry_ms) {
  const bool opened = OpenDevice(retry_ms);
  last_attempt_tick_ = platform::Tick();
  const std::string device = port_name_ + " (" + device_path_ + "): ";
  if (!opened) {
    status_text_ = port_name_ + TK571_GBK("不存在或被其它程序占用！");
    diagnosis_ = device + platform::SerialOpenReason(device_path_, last_open_);
    return false;
  }
  if (!ApplySettings()) {
    // Talking at settings the device refused would only produce garbage.
    const platform::SerialConfigured& configured = port_.Configured();
    diagnosis_ = device + "refused the line settings";
    if (configured.frame_refused) {
      diagnosis_ = device + "refused the line format " +
                   platform::FrameName(platform::FrameOf(LineSettings())) + " (it keeps " +
                   platform::FrameName(configured.running) + ")";
    }
    ClosePort();
    status_text_ = kBuffersError;
    return false;
  }
  status_text_ = port_name_ + TK571_GBK("打开成功");
  diagnosis_ = device + ConfiguredText();
  ApplyRs485();
  return true;
}

std::string TCommClass::ConfiguredText() const {
  const platform::SerialConfigured& configured = port_.Configured();
  // Windows cannot tell a port that refuses the frame from wine's
  // pseudo-terminal, which runs its own: it keeps the port, and says so.
  std::string text = configured.frame_refused
                         ? "runs " + platform::FrameName(configured.running) +
                               ", refused the line format " +
                               platform::FrameName(platform::FrameOf(LineSettings()))
                         : std::string("opened");
  switch (configured.low_latency) {
    case platform::SerialLowLatency::kNotAsked:
      break;
    case platform::SerialLowLatency::kOn:
      text += ", low latency on";
      break;
    case platform::SerialLowLatency::kRefused:
      text += configured.low_latency_error != 0 ? std::string(", low latency refused: ") +
                                                      std::strerror(configured.low_latency_error)
                                                : std::string(", low latency not taken");
      break;
  }
  return text;
}

void TCommClass::ClosePort() {
  if (port_.IsOpen()) closed_errors_ += PortErrors();
  port_.Close();
}

platform::LineErrors TCommClass::LineErrorCounts() {
  platform::LineErrors errors = closed_errors_;
  if (port_.IsOpen()) errors += PortErrors();
  return errors;
}

platform::LineErrors TCommClass::TakeLineErrors() {
  const platform::LineErrors total = LineErrorCounts();
  const platform::LineErrors fresh = total - taken_errors_;
  taken_errors_ = total;
  return fresh;
}

std::string TCommClass::FramingDiagnosis(uint32_t framing_errors) const {
  return port_name_ + " (" + device_path_ + "): " + std::to_string(framing_errors) +
         " framing errors and no answer understood: the controllers may run another baud rate "
         "than " +
         std::to_string(LineSettings().baud) + " or another line format than " +
         platform::FrameName(platform::FrameOf(LineSettings())) +
         ", or two controllers with one device number answer at once";
}

void TCommClass::ApplyRs485() {
  const platform::SerialRs485 rs485 = platform::SerialRs485Setting(port_index_);
  if (!rs485.enabled) return;
  // Not fatal: a converter with automatic direction control works without
  // it, and a pseudo-terminal always refuses.
  platform::SerialRs485 applied;
  const int error = port_.EnableRs485(rs485, applied);
  if (error != 0) {
    diagnosis_ += std::string(", RS-485 direction control refused: ") + std::strerror(error) +
                  ", RTS dropped";
    return;
  }
  // The delays the kernel took, which may differ from those asked for.
  diagnosis_ += ", RS-485 direction control on (RTS on send, " +
                std::to_string(applied.delay_before_ms) + " ms before, " +
                std::to_string(applied.delay_after_ms) + " ms after)";
}

bool TCommClass::ApplySettings() {
  const platform::SerialIo result = port_.Configure(LineSettings());
  if (result == platform::SerialIo::kLineGone) LineLost();
  return result == platform::SerialIo::kOk;
}

void TCommClass::SetFlowControl(uint8_t mode) {
  if (mode > kCommFlowKeep) return;
  flow_control_ = mode;
  if (port_.IsOpen()) ApplySettings();
}

void TCommClass::EventCharsChanged() {
  if (port_.IsOpen()) ApplySettings();
}

bool TCommClass::MayReconnect() const {
  return may_connect_ && platform::TicksSince(last_attempt_tick_) >= kReconnectIntervalMs;
}

void TCommClass::Close() {
  may_connect_ = false;
  ClosePort();
}

bool TCommClass::Send(std::string_view request) {
  request = request.substr(0, std::min(request.size(), kMaxRequestChars));
  std::string hex_bytes;
  if (!text_mode_ && !DecodeHex(request, hex_bytes)) return false;
  const std::string_view bytes = text_mode_ ? request : std::string_view(hex_bytes);

  if (clear_before_send_) receive_buffer_.clear();
  if (!port_.IsOpen()) {
    // One attempt without retries: the caller is the host's polling thread.
    if (!MayReconnect() || !Connect(0)) return false;
  }
  Purge();
  if (!port_.IsOpen()) return false;
  return WriteBytes(bytes);
}

void TCommClass::Purge() {
  if (port_.PurgeInput() == platform::SerialIo::kLineGone) LineLost();
  receive_buffer_.clear();
}

bool TCommClass::WriteBytes(std::string_view bytes) {
  std::size_t written = 0;
  const platform::SerialIo result = port_.Write(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                bytes.size(), write_timeout_ms_, written);
  if (result == platform::SerialIo::kLineGone) LineLost();
  return result == platform::SerialIo::kOk;
}

const std::string& TCommClass::Receive() {
  if (port_.IsOpen()) {
    std::size_t queued = 0;
    const platform::SerialIo result = port_.Available(queued);
    if (result == platform::SerialIo::kLineGone) {
      LineLost();
    } else if (result == platform::SerialIo::kOk && queued > 0) {
      ReadAvailable(queued);
    }
  }
  return receive_buffer_;
}

void TCommClass::ReadAvailable(std::size_t count) {
  std::size_t got = 0;
  const platform::SerialIo result =
      port_.Read(scratch_.data(), std::min(count, scratch_.size()), got);
  if (result == platform::SerialIo::kLineGone) LineLost();
  if (result != platform::SerialIo::kOk) return;
  if (text_mode_) {
    receive_buffer_.append(reinterpret_cast<const char*>(scratch_.data()), got);
  } else {
    AppendHex(scratch_.data(), got, receive_buffer_);
  }
}

}  // namespace tk571
