// The driver's end of the line in the simulator tests: plain termios code on
// the slave side of the simulator's pseudo-terminal.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace tk571::sim::test {

using std::chrono::milliseconds;

class TestPort {
 public:
  // Opens `path` raw and non-blocking; throws std::system_error.
  explicit TestPort(const std::string& path);
  ~TestPort();
  TestPort(const TestPort&) = delete;
  TestPort& operator=(const TestPort&) = delete;

  void Send(std::string_view bytes);
  // Reads until the text read ends with `terminator` or `timeout` passes.
  std::string ReadUntil(std::string_view terminator, milliseconds timeout);
  // Everything that arrives within `period`.
  std::string ReadFor(milliseconds period);
  // Drops what is queued, sends `request` and reads one answer up to CR LF.
  std::string Ask(std::string_view request, milliseconds timeout = milliseconds(1000));

  // True when the other side has gone away (hangup on the port).
  bool HungUp();

 private:
  int fd_ = -1;
};

}  // namespace tk571::sim::test
