#include "protocol/serial_line.h"

#include <string_view>
#include <utility>

#include "comm/comm_class.h"
#include "platform/clock.h"
#include "platform/line_wait.h"
#include "platform/serial_echo.h"
#include "platform/serial_port.h"
#include "protocol/local_echo.h"

namespace tk571 {

namespace {

uint32_t BitsPerCharacter(const platform::SerialSettings& line) {
  const uint32_t parity = line.parity == platform::SerialParity::kNone ? 0 : 1;
  // One and a half stop bits are sent as two on this platform.
  const uint32_t stop = line.stop_bits == platform::SerialStopBits::kOne ? 1 : 2;
  return 1 + line.data_bits + parity + stop;
}

// The driver's serial port class behind the protocol layer's line.
class CommLine final : public SerialLine {
 public:
  bool Open(const TDevicePDB& block, std::string& message) override {
    key_ = platform::SerialDevicePath(block.Port());
    const bool opened = comm_.Open(block, /*text_mode=*/true, message);
    const platform::SerialSettings line = comm_.LineSettings();
    baud_ = line.baud;
    bits_ = BitsPerCharacter(line);
    gap_ms_ = QuietGapMs(baud_, bits_);
    echo_.SetMode(platform::SerialEchoSetting(block.Port()));
    reopened_ = opened;
    return opened;
  }
  void Close() override { comm_.Close(); }
  std::string Diagnosis() const override { return comm_.Diagnosis(); }
  std::string LineKey() const override { return key_; }
  bool Send(const std::string& text) override {
    if (platform::LineClosing()) return false;
    const bool was_open = comm_.IsOpen();
    // Taken before the bytes go out: the request cannot end earlier than
    // its transmission time after this.
    const uint32_t start = platform::Tick();
    const bool sent = comm_.Send(text);
    if (!was_open && comm_.IsOpen()) reopened_ = true;
    const std::string_view request = std::string_view(text).substr(0, TCommClass::kMaxRequestChars);
    request_end_ = start + TransmitMs(request.size());
    early_ = 0;
    echo_.Sent(sent ? request : std::string_view());
    return sent;
  }
  const std::string& Receive() override {
    static const std::string kNothing;
    const std::size_t seen = comm_.ReceiveBuffer().size();
    const std::string& buffer = comm_.Receive();
    if (buffer.size() > seen) last_arrival_ = platform::Tick();
    const EchoFilter::Verdict echo = echo_.Judge(buffer);
    if (echo.strip > 0) comm_.SetReceiveBuffer(buffer.substr(echo.strip));
    // Until the echo is complete nothing received is an answer.
    if (echo.hold) return kNothing;
    const std::string& text = comm_.ReceiveBuffer();
    if (static_cast<int32_t>(platform::Tick() - request_end_) < 0) early_ = text.size();
    return text;
  }
  void ClearBuffer() override {
    comm_.SetReceiveBuffer(std::string());
    early_ = 0;
  }
  uint32_t TransmitMs(std::size_t chars) const override {
    if (baud_ == 0) return 0;
    const uint64_t bits = static_cast<uint64_t>(chars) * bits_ * 1000;
    return static_cast<uint32_t>((bits + baud_ - 1) / baud_);
  }
  std::size_t EarlyBytes() const override { return early_; }
  uint32_t EchoesStripped() const override { return echo_.Stripped(); }
  bool TakeReopened() override { return std::exchange(reopened_, false); }
  void AwaitBytes(uint32_t ms) override { platform::AwaitBytes(comm_.Port(), ms); }
  const platform::SerialPort* Port() const override { return &comm_.Port(); }
  platform::LineErrors TakeLineErrors() override { return comm_.TakeLineErrors(); }
  std::string FramingDiagnosis(uint32_t framing_errors) const override {
    return comm_.FramingDiagnosis(framing_errors);
  }
  std::string Settle(uint32_t limit_ms, bool stray_in, uint32_t guard_ms) override {
    std::string stray;
    const uint32_t start = platform::Tick();
    for (;;) {
      const std::size_t seen = comm_.ReceiveBuffer().size();
      const std::string& buffer = Receive();
      if (buffer.size() > seen) stray.append(buffer, seen);
      // Nothing since the answer: the line is free at once. A tail seen while
      // the reply was awaited may still be coming: quiet counts from its last
      // byte.
      const bool arriving = stray_in || !stray.empty();
      const bool quiet = !arriving || platform::TicksSince(last_arrival_) >= gap_ms_;
      const uint32_t waited = platform::TicksSince(start);
      if ((quiet && waited >= guard_ms) || waited >= guard_ms + limit_ms) return stray;
      // A stopping line thread's pauses end at once: its time no longer runs.
      if (platform::LineClosing()) return stray;
      platform::SleepMs(1);
    }
  }

 private:
  // Received text is cleared before every request, so a late answer to the
  // previous one is never taken for the next.
  TCommClass comm_{/*clear_before_send=*/true};
  std::string key_;
  uint32_t baud_ = 0;
  uint32_t bits_ = 10;
  uint32_t gap_ms_ = 1;
  uint32_t last_arrival_ = 0;
  // When the request sent last has certainly ended, and how many received
  // bytes were in before that.
  uint32_t request_end_ = 0;
  std::size_t early_ = 0;
  EchoFilter echo_;
  bool reopened_ = false;
};

}  // namespace

uint32_t QuietGapMs(uint32_t baud, uint32_t bits_per_character) {
  if (baud == 0) return 1;
  // 3.5 characters = 7 half characters, rounded up to the next millisecond.
  const uint64_t half_char_ms_x_baud = 7ull * bits_per_character * 1000;
  const uint64_t ms = (half_char_ms_x_baud + 2ull * baud - 1) / (2ull * baud);
  return ms > 0 ? static_cast<uint32_t>(ms) : 1;
}

std::unique_ptr<SerialLine> MakeSerialLine() {
  return std::make_unique<CommLine>();
}

}  // namespace tk571
