#include "protocol/serial_line.h"

#include "platform/gbk.h"

namespace tk571 {

namespace {

// Stands in until the serial port class is connected: the port never opens,
// and the status text says so in the port class's words.
class UnavailableLine final : public SerialLine {
 public:
  bool Open(const TDevicePDB& block, std::string& message) override {
    port_ = "Com" + std::to_string(block.Port() + 1);
    message = port_ + TK571_GBK("不存在或被其它程序占用！");
    return false;
  }
  void Close() override {}
  std::string LineKey() const override { return port_; }
  void Send(const std::string&) override { buffer_.clear(); }
  const std::string& Receive() override { return buffer_; }
  void ClearBuffer() override { buffer_.clear(); }

 private:
  std::string port_ = "Com1";
  std::string buffer_;
};

}  // namespace

std::unique_ptr<SerialLine> MakeSerialLine() {
  return std::make_unique<UnavailableLine>();
}

}  // namespace tk571
