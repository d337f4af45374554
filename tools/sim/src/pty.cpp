#include "pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace tk571::sim::detail {
namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void SetRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) ThrowErrno("tcgetattr");
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) ThrowErrno("tcsetattr");
}

}  // namespace

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

Pty Pty::Open() {
  Pty pty;
  pty.master = UniqueFd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!pty.master.Valid()) ThrowErrno("posix_openpt");
  if (grantpt(pty.master.Get()) != 0) ThrowErrno("grantpt");
  if (unlockpt(pty.master.Get()) != 0) ThrowErrno("unlockpt");
  std::array<char, 128> name{};
  if (ptsname_r(pty.master.Get(), name.data(), name.size()) != 0) ThrowErrno("ptsname_r");
  pty.slave_path = name.data();
  const int flags = fcntl(pty.master.Get(), F_GETFL);
  if (flags < 0 || fcntl(pty.master.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
    ThrowErrno("fcntl O_NONBLOCK");
  }
  pty.slave_hold = UniqueFd(::open(pty.slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!pty.slave_hold.Valid()) ThrowErrno("open slave");
  // A new pseudo-terminal is in cooked mode with echo: every answer would
  // come back to the simulator as a request.
  SetRaw(pty.slave_hold.Get());
  return pty;
}

void RepointSymlink(const std::string& link, const std::string& target) {
  const std::string temporary = link + ".new";
  ::unlink(temporary.c_str());
  if (::symlink(target.c_str(), temporary.c_str()) != 0) ThrowErrno("symlink");
  if (std::rename(temporary.c_str(), link.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw std::system_error(error, std::generic_category(), "rename symlink");
  }
}

}  // namespace tk571::sim::detail
