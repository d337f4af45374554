// A scripted serial line, with the tests' clock. The line records every
// byte in both directions as ">> 05 49 44 ..." and "<< 06 30 31 ..." lines.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/line_wait.h"
#include "protocol/serial_line.h"
#include "support/fake_clock.h"

namespace tk571::test {

using tk571::testing::FakeClock;

inline std::string Hex(const std::string& bytes) {
  std::string out;
  char b[4];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof(b), out.empty() ? "%02X" : " %02X", c);
    out += b;
  }
  return out;
}

// The device side of the line: given what the driver sent, what comes back.
using Responder = std::function<std::string(const std::string& sent)>;

struct LineState {
  std::string key = "/dev/ttyFAKE";
  bool open_result = true;
  bool open = false;
  int opens = 0;
  int closes = 0;
  std::vector<std::string> sent;
  std::string trace;
  std::string pending;  // answered but not yet received
  std::string buffer;
  Responder responder;
  bool silent = false;

  void Note(const std::string& text) { trace += "# " + text + "\n"; }
  // Text the device sends by itself.
  void Deliver(const std::string& text) { pending += text; }
};

// The line object the driver owns; its state stays with the test.
class ScriptedLine : public SerialLine {
 public:
  explicit ScriptedLine(std::shared_ptr<LineState> state) : s_(std::move(state)) {}
  bool Open(const TDevicePDB& block, std::string& message) override {
    ++s_->opens;
    s_->open = s_->open_result;
    message = "Com" + std::to_string(block.Port() + 1) + (s_->open_result ? "OPEN" : "BUSY");
    return s_->open_result;
  }
  void Close() override {
    if (s_->open) ++s_->closes;
    s_->open = false;
  }
  std::string LineKey() const override { return s_->key; }
  bool Send(const std::string& text) override {
    // As the serial line: nothing more goes out once the line thread stops.
    if (platform::LineClosing()) return false;
    const std::string out = text.substr(0, 255);
    s_->buffer.clear();
    s_->pending.clear();
    s_->sent.push_back(out);
    s_->trace += ">> " + Hex(out) + "\n";
    if (s_->responder && !s_->silent) s_->pending += s_->responder(out);
    return true;
  }
  const std::string& Receive() override {
    if (!s_->pending.empty()) {
      s_->trace += "<< " + Hex(s_->pending) + "\n";
      s_->buffer += s_->pending;
      s_->pending.clear();
    }
    return s_->buffer;
  }
  void ClearBuffer() override { s_->buffer.clear(); }
  std::string Settle(uint32_t, bool, uint32_t) override {
    const std::string stray = s_->pending;
    Receive();
    return stray;
  }

 private:
  std::shared_ptr<LineState> s_;
};

}  // namespace tk571::test
