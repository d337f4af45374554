#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "platform/posix/serial_termios.h"
#include "platform/posix/serial_termios2.h"
#include "platform/serial_port.h"

namespace tk571::platform {
namespace posix {

speed_t StandardSpeed(uint32_t baud) {
  switch (baud) {
    case 50:
      return B50;
    case 75:
      return B75;
    case 110:
      return B110;
    case 134:
      return B134;
    case 150:
      return B150;
    case 200:
      return B200;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 1800:
      return B1800;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 921600:
      return B921600;
    default:
      return B0;
  }
}

bool ApplyToTermios(const SerialSettings& s, termios& t) {
  tcflag_t size = 0;
  switch (s.data_bits) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      return false;
  }
  // Hardware flow control as the device was set up, for SerialFlow::kKeep.
  const tcflag_t found_rtscts = t.c_cflag & CRTSCTS;

  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= size | CLOCAL | CREAD;
  switch (s.parity) {
    case SerialParity::kNone:
      break;
    case SerialParity::kOdd:
      t.c_cflag |= PARENB | PARODD;
      break;
    case SerialParity::kEven:
      t.c_cflag |= PARENB;
      break;
    // With CMSPAR the parity bit is constant: PARODD makes it 1 (mark).
    case SerialParity::kMark:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case SerialParity::kSpace:
      t.c_cflag |= PARENB | CMSPAR;
      break;
  }
  // A Linux line has no one and a half stop bits; two is the nearest.
  if (s.stop_bits != SerialStopBits::kOne) t.c_cflag |= CSTOPB;

  t.c_iflag &= ~(IGNPAR | INPCK | IXON | IXOFF | IXANY);
  if (s.parity_check && s.parity != SerialParity::kNone) t.c_iflag |= INPCK;
  switch (s.flow) {
    case SerialFlow::kNone:
    case SerialFlow::kDsrDtr:
      break;
    case SerialFlow::kRtsCts:
      t.c_cflag |= CRTSCTS;
      break;
    case SerialFlow::kXonXoff:
      t.c_iflag |= IXON | IXOFF;
      t.c_cc[VSTART] = static_cast<cc_t>(s.xon_char);
      t.c_cc[VSTOP] = static_cast<cc_t>(s.xoff_char);
      break;
    case SerialFlow::kKeep:
      t.c_cflag |= found_rtscts;
      break;
  }
  // Reads return at once with what is queued.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;

  const speed_t speed = StandardSpeed(s.baud);
  if (speed != B0) {
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
  }
  return true;
}

}  // namespace posix

namespace {

bool IsLineGoneErrno(int err) {
  return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE;
}

bool IsLineGoneEvents(short revents) {
  return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

SerialIo FromErrno(int err) {
  return IsLineGoneErrno(err) ? SerialIo::kLineGone : SerialIo::kFailed;
}

// glibc's tcsetattr reads the settings back and reports EINVAL when the
// device changed the character size or parity enable. A pseudo-terminal always
// forces 8 data bits without parity; that is the device's choice, not a
// refusal, as long as everything else was taken.
bool TakenButSizeAndParity(int fd, const termios& wanted) {
  termios got{};
  if (tcgetattr(fd, &got) != 0) return false;
  constexpr tcflag_t kForced = CSIZE | PARENB;
  return (got.c_cflag & ~kForced) == (wanted.c_cflag & ~kForced) && got.c_iflag == wanted.c_iflag &&
         got.c_oflag == wanted.c_oflag && got.c_lflag == wanted.c_lflag &&
         got.c_cc[VMIN] == wanted.c_cc[VMIN] && got.c_cc[VTIME] == wanted.c_cc[VTIME];
}

// Real time for the write wait: the kernel's poll sleeps in real time, so the
// deadline must not come from a clock that tests may stop.
uint64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// kHeld with a process that /proc shows holding the device, this one too
// (another driver object on the same port), else kBusy (the holder belongs to
// another user and is hidden from us). Called with the device closed.
SerialOpenOutcome HeldOutcome(const std::string& path) {
  SerialOpenOutcome outcome;
  outcome.result = SerialOpenResult::kBusy;
  const std::vector<int> holders = DeviceHolders(path, /*include_self=*/true);
  if (!holders.empty()) {
    outcome.result = SerialOpenResult::kHeld;
    outcome.holder_pid = holders.front();
  }
  return outcome;
}

}  // namespace

std::string SerialDevicePath(int port_index) {
  const std::string name = "TK571_COM" + std::to_string(port_index + 1);
  const char* value = getenv(name.c_str());
  if (value != nullptr && *value != '\0') return value;
  return "/dev/ttyS" + std::to_string(port_index);
}

SerialOpenOutcome SerialPort::Open(const std::string& path) {
  Close();
  SerialOpenOutcome outcome;
  // Another tool's lock is respected before the device is touched: opening a
  // serial port can already switch its modem lines.
  if (UucpLock lock = FindUucpLock(path, UucpLockDirectory()); lock.pid != 0) {
    outcome.result = SerialOpenResult::kLocked;
    outcome.holder_pid = lock.pid;
    outcome.lock_file = std::move(lock.file);
    return outcome;
  }
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    switch (errno) {
      case ENOENT:
      case ENODEV:
      case ENXIO:
      case ENOTDIR:
        outcome.result = SerialOpenResult::kMissing;
        break;
      case EACCES:
      case EPERM:
        outcome.result = SerialOpenResult::kNoAccess;
        break;
      case EBUSY:  // held with TIOCEXCL
        return HeldOutcome(path);
      default:
        outcome.result = SerialOpenResult::kFailed;
        outcome.error = errno;
        break;
    }
    return outcome;
  }
  if (!isatty(fd)) {
    close(fd);
    outcome.result = SerialOpenResult::kNotSerial;
    return outcome;
  }
  // The lock is what keeps out another program that opens the device the
  // same way, root included; TIOCEXCL keeps out other openers but not root.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    if (err == EWOULDBLOCK) return HeldOutcome(path);
    outcome.result = SerialOpenResult::kFailed;
    outcome.error = err;
    return outcome;
  }
  // A terminal program or cat that holds the port without any lock would eat
  // the controllers' answers.
  if (const std::vector<int> others = DeviceHolders(path); !others.empty()) {
    close(fd);
    outcome.result = SerialOpenResult::kHeld;
    outcome.holder_pid = others.front();
    return outcome;
  }
  ioctl(fd, TIOCEXCL);
  fd_ = fd;
  return outcome;
}

bool SerialPort::IsOpen() const {
  return fd_ >= 0;
}

void SerialPort::Close() {
  if (fd_ < 0) return;
  // The exclusive flag belongs to the terminal, not to this descriptor: clear
  // it, or the device stays closed to others after we let it go.
  ioctl(fd_, TIOCNXCL);
  close(fd_);
  fd_ = -1;
}

SerialIo SerialPort::Configure(const SerialSettings& settings) {
  if (fd_ < 0) return SerialIo::kFailed;
  termios t{};
  if (tcgetattr(fd_, &t) != 0) return FromErrno(errno);
  if (!posix::ApplyToTermios(settings, t)) return SerialIo::kFailed;
  if (tcsetattr(fd_, TCSANOW, &t) != 0) {
    const int err = errno;
    if (err != EINVAL || !TakenButSizeAndParity(fd_, t)) return FromErrno(err);
  }
  if (posix::StandardSpeed(settings.baud) == B0) {
    const int err = posix::SetCustomBaud(fd_, settings.baud);
    if (err != 0) return FromErrno(err);
  }
  return SerialIo::kOk;
}

int SerialPort::EnableRs485(const SerialRs485& settings) {
  if (fd_ < 0) return EBADF;
  serial_rs485 rs485{};
  rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  rs485.delay_rts_before_send = settings.delay_before_ms;
  rs485.delay_rts_after_send = settings.delay_after_ms;
  return ioctl(fd_, TIOCSRS485, &rs485) == 0 ? 0 : errno;
}

SerialIo SerialPort::Available(std::size_t& count) {
  count = 0;
  if (fd_ < 0) return SerialIo::kFailed;
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, 0) < 0) return errno == EINTR ? SerialIo::kOk : SerialIo::kFailed;
  if (IsLineGoneEvents(p.revents)) return SerialIo::kLineGone;
  int queued = 0;
  if (ioctl(fd_, FIONREAD, &queued) != 0) return FromErrno(errno);
  count = queued > 0 ? static_cast<std::size_t>(queued) : 0;
  return SerialIo::kOk;
}

SerialIo SerialPort::Read(uint8_t* buffer, std::size_t size, std::size_t& count) {
  count = 0;
  if (fd_ < 0) return SerialIo::kFailed;
  if (size == 0) return SerialIo::kOk;
  const ssize_t n = read(fd_, buffer, size);
  if (n >= 0) {
    count = static_cast<std::size_t>(n);
    return SerialIo::kOk;
  }
  if (errno == EAGAIN || errno == EINTR) return SerialIo::kOk;
  return FromErrno(errno);
}

SerialIo SerialPort::Write(const uint8_t* buffer, std::size_t size, uint32_t timeout_ms,
                           std::size_t& count) {
  count = 0;
  if (fd_ < 0) return SerialIo::kFailed;
  const uint64_t deadline = MonotonicMs() + timeout_ms;
  while (count < size) {
    const ssize_t n = write(fd_, buffer + count, size - count);
    if (n > 0) {
      count += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return FromErrno(errno);
    const uint64_t now = MonotonicMs();
    if (now >= deadline) return SerialIo::kTimeout;
    pollfd p{fd_, POLLOUT, 0};
    const int ready = poll(&p, 1, static_cast<int>(deadline - now));
    if (ready < 0 && errno != EINTR) return SerialIo::kFailed;
    if (ready > 0 && IsLineGoneEvents(p.revents)) return SerialIo::kLineGone;
  }
  return SerialIo::kOk;
}

SerialIo SerialPort::PurgeInput() {
  if (fd_ < 0) return SerialIo::kFailed;
  if (tcflush(fd_, TCIFLUSH) != 0) return FromErrno(errno);
  return SerialIo::kOk;
}

}  // namespace tk571::platform
