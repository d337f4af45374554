#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

#include "platform/line_wait.h"
#include "platform/serial_port.h"

namespace tk571::platform {

namespace {

int EventFd(intptr_t event) {
  return static_cast<int>(event);
}

// Milliseconds left until `end`, for poll: -1 for ever.
int PollTimeout(bool forever, std::chrono::steady_clock::time_point end) {
  if (forever) return -1;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

LineWaiter::LineWaiter() : event_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

LineWaiter::~LineWaiter() {
  if (event_ >= 0) close(EventFd(event_));
}

void LineWaiter::Wake() {
  const uint64_t one = 1;
  // A full counter already wakes the waiter.
  [[maybe_unused]] const ssize_t written = write(EventFd(event_), &one, sizeof one);
}

bool LineWaiter::HasBytes(const SerialPort* port) {
  if (!port || port->fd_ < 0) return false;
  pollfd fd{port->fd_, POLLIN, 0};
  return poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN);
}

LineWake LineWaiter::Wait(const SerialPort* port, uint32_t timeout_ms) {
  const bool forever = timeout_ms == kWaitForever;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int port_fd = port ? port->fd_ : -1;
  for (;;) {
    pollfd fds[2] = {{EventFd(event_), POLLIN, 0}, {port_fd, POLLIN, 0}};
    const nfds_t count = port_fd >= 0 ? 2 : 1;
    const int ready = poll(fds, count, PollTimeout(forever, end));
    if (ready < 0 && errno != EINTR) return LineWake::kTimedOut;
    if (ready > 0 && (fds[0].revents & POLLIN)) {
      uint64_t wakes = 0;
      [[maybe_unused]] const ssize_t got = read(EventFd(event_), &wakes, sizeof wakes);
      return LineWake::kWoken;
    }
    if (ready > 0 && count == 2) {
      if (fds[1].revents & POLLIN) return LineWake::kReadable;
      // A hung-up or failing device stays "ready" for ever; the step that
      // reads it notices and reopens the port.
      if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) port_fd = -1;
    }
    if (ready == 0) return LineWake::kTimedOut;
  }
}

}  // namespace tk571::platform
