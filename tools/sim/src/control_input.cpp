#include "tk571sim/control_input.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <exception>
#include <system_error>
#include <thread>

#include "pty.h"

namespace tk571::sim {
namespace {

constexpr std::size_t kReadChunk = 512;
// A line longer than this is not a command; it is dropped whole.
constexpr std::size_t kMaxLine = 4096;

std::system_error SystemError(const std::string& what) {
  return std::system_error(errno, std::generic_category(), what);
}

}  // namespace

struct ControlInput::Impl {
  Handler handler;
  Replier replier;
  std::string fifo_made;
  detail::UniqueFd owned;  // not for stdin
  int fd = -1;
  detail::UniqueFd wake;
  std::thread reader;

  void Take(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') return;
    // A command that fails must not end the reader: later commands still come.
    std::string reply;
    try {
      reply = handler(line);
    } catch (const std::exception& e) {
      reply = std::string("error: ") + e.what();
    }
    replier(reply);
  }

  void Run() {
    std::string pending;
    bool overlong = false;
    std::array<char, kReadChunk> buffer{};
    for (;;) {
      std::array<pollfd, 2> fds{{{fd, POLLIN, 0}, {wake.Get(), POLLIN, 0}}};
      if (::poll(fds.data(), fds.size(), -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents & POLLIN) return;
      if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t n = ::read(fd, buffer.data(), buffer.size());
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) return;  // the end of stdin
      for (char c : std::string_view(buffer.data(), std::size_t(n))) {
        if (c != '\n') {
          pending += c;
          if (pending.size() > kMaxLine) {
            overlong = true;
            pending.clear();
          }
          continue;
        }
        if (overlong) {
          replier("error: line longer than " + std::to_string(kMaxLine) + " characters");
        } else {
          Take(pending);
        }
        overlong = false;
        pending.clear();
      }
    }
  }
};

ControlInput::ControlInput(const std::string& path, Handler handler, Replier replier)
    : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.handler = std::move(handler);
  d.replier = std::move(replier);
  d.wake = detail::UniqueFd(::eventfd(0, EFD_CLOEXEC));
  if (!d.wake.Valid()) throw SystemError("eventfd");
  if (path == "-") {
    d.fd = STDIN_FILENO;
  } else {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      if (errno != ENOENT) throw SystemError("stat " + path);
      if (::mkfifo(path.c_str(), 0600) != 0) throw SystemError("mkfifo " + path);
      d.fifo_made = path;
    }
    // Read and write: the FIFO then never reports its end when a writer
    // closes it, and opening does not wait for the first writer.
    d.owned = detail::UniqueFd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!d.owned.Valid()) {
      const std::system_error error = SystemError("open " + path);
      if (!d.fifo_made.empty()) ::unlink(d.fifo_made.c_str());
      throw error;
    }
    d.fd = d.owned.Get();
  }
  d.reader = std::thread([&d] { d.Run(); });
}

ControlInput::~ControlInput() {
  Impl& d = *impl_;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(d.wake.Get(), &one, sizeof one);
  d.reader.join();
  if (!d.fifo_made.empty()) ::unlink(d.fifo_made.c_str());
}

}  // namespace tk571::sim
