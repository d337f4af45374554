#include "sim/test_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace tk571::sim::test {

using Clock = std::chrono::steady_clock;

TestPort::TestPort(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "open " + path);
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) {
    const int error = errno;
    ::close(fd_);
    throw std::system_error(error, std::generic_category(), "tcgetattr");
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  tcsetattr(fd_, TCSANOW, &tio);
  tcflush(fd_, TCIOFLUSH);
}

TestPort::~TestPort() {
  ::close(fd_);
}

void TestPort::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EAGAIN) {
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 100);
        continue;
      }
      throw std::system_error(errno, std::generic_category(), "write");
    }
    bytes.remove_prefix(std::size_t(n));
  }
}

std::string TestPort::ReadUntil(std::string_view terminator, milliseconds timeout) {
  std::string text;
  const Clock::time_point deadline = Clock::now() + timeout;
  while (terminator.empty() || !text.ends_with(terminator)) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, int(left.count()) + 1) <= 0) continue;
    if (p.revents & (POLLHUP | POLLERR)) break;
    char c = 0;
    // One byte at a time, so nothing after the terminator is taken.
    const ssize_t n = ::read(fd_, &c, 1);
    if (n == 1) text += c;
  }
  return text;
}

std::string TestPort::ReadFor(milliseconds period) {
  return ReadUntil({}, period);
}

std::string TestPort::Ask(std::string_view request, milliseconds timeout) {
  tcflush(fd_, TCIFLUSH);
  Send(request);
  return ReadUntil("\r\n", timeout);
}

bool TestPort::HungUp() {
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0;
}

}  // namespace tk571::sim::test
