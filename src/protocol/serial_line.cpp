#include "protocol/serial_line.h"

#include "comm/comm_class.h"
#include "platform/serial_port.h"

namespace tk571 {

namespace {

// The driver's serial port class behind the protocol layer's line.
class CommLine final : public SerialLine {
 public:
  bool Open(const TDevicePDB& block, std::string& message) override {
    key_ = platform::SerialDevicePath(block.Port());
    return comm_.Open(block, /*text_mode=*/true, message);
  }
  void Close() override { comm_.Close(); }
  std::string LineKey() const override { return key_; }
  void Send(const std::string& text) override { comm_.Send(text); }
  const std::string& Receive() override { return comm_.Receive(); }
  void ClearBuffer() override { comm_.SetReceiveBuffer(std::string()); }

 private:
  // Received text is cleared before every request, so a late answer to the
  // previous one is never taken for the next.
  TCommClass comm_{/*clear_before_send=*/true};
  std::string key_;
};

}  // namespace

std::unique_ptr<SerialLine> MakeSerialLine() {
  return std::make_unique<CommLine>();
}

}  // namespace tk571
