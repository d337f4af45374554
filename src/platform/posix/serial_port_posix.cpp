#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

  t.c_iflag &= ~(IGNPAR | INPCK | PARMRK | IXON | IXOFF | IXANY);
  // Checked input marks each byte that came with a parity or framing error,
  // and each break, instead of delivering it as a NUL: the port drops and
  // counts them. Framing is checked on a line without parity too.
  if (s.parity_check) t.c_iflag |= INPCK | PARMRK;
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

SerialFrame FrameOfTermios(const termios& t) {
  SerialFrame frame;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      frame.data_bits = 5;
      break;
    case CS6:
      frame.data_bits = 6;
      break;
    case CS7:
      frame.data_bits = 7;
      break;
    default:
      frame.data_bits = 8;
      break;
  }
  if (t.c_cflag & PARENB) {
    const bool odd = (t.c_cflag & PARODD) != 0;
    if (t.c_cflag & CMSPAR) {
      frame.parity = odd ? SerialParity::kMark : SerialParity::kSpace;
    } else {
      frame.parity = odd ? SerialParity::kOdd : SerialParity::kEven;
    }
  }
  frame.stop_bits = (t.c_cflag & CSTOPB) ? SerialStopBits::kTwo : SerialStopBits::kOne;
  return frame;
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

constexpr tcflag_t kFrameBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

// A UNIX 98 pseudo-terminal: it has no line, and its frame is always 8N1.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned int major_number = major(st.st_rdev);
  return major_number >= 136 && major_number <= 143;
}

// The device's interrupt counters, for the devices that keep them (UARTs and
// most USB adapters; not a pseudo-terminal).
bool ReadIcount(int fd, LineErrors& errors) {
  serial_icounter_struct icount{};
  if (ioctl(fd, TIOCGICOUNT, &icount) != 0) return false;
  errors.parity = static_cast<uint32_t>(icount.parity);
  errors.framing = static_cast<uint32_t>(icount.frame);
  errors.overrun = static_cast<uint32_t>(icount.overrun + icount.buf_overrun);
  errors.breaks = static_cast<uint32_t>(icount.brk);
  return true;
}

// Asks the device to hand over received bytes at once; an FTDI adapter
// otherwise collects them for its latency timer (16 ms), longer than the
// quiet gap that ends an answer at fast rates.
void AskLowLatency(int fd, SerialConfigured& configured) {
  configured.low_latency = SerialLowLatency::kNotAsked;
  configured.low_latency_error = 0;
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
  configured.low_latency = SerialLowLatency::kRefused;
  if ((serial.flags & ASYNC_LOW_LATENCY) == 0) {
    serial.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(fd, TIOCSSERIAL, &serial) != 0) {
      configured.low_latency_error = errno;
      return;
    }
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
  }
  if (serial.flags & ASYNC_LOW_LATENCY) configured.low_latency = SerialLowLatency::kOn;
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
  marks_.Reset();
  marking_ = false;
  marked_ = LineErrors();
  has_icount_ = ReadIcount(fd_, icount_at_open_);
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
  termios got{};
  if (tcgetattr(fd_, &got) != 0) return FromErrno(errno);
  configured_.running = posix::FrameOfTermios(got);
  // An adapter that cannot do the frame (7E1 on some) may keep its old one
  // without a word: the controllers' bytes would then arrive garbled.
  configured_.frame_refused =
      (got.c_cflag & kFrameBits) != (t.c_cflag & kFrameBits) && !IsPseudoTerminal(fd_);
  if (configured_.frame_refused) return SerialIo::kFailed;
  marks_ = ParmrkDecoder(settings.parity != SerialParity::kNone);
  marking_ = (got.c_iflag & PARMRK) != 0;
  if (posix::StandardSpeed(settings.baud) == B0) {
    const int err = posix::SetCustomBaud(fd_, settings.baud);
    if (err != 0) return FromErrno(err);
  }
  AskLowLatency(fd_, configured_);
  return SerialIo::kOk;
}

int SerialPort::EnableRs485(const SerialRs485& settings, SerialRs485& applied) {
  applied = SerialRs485();
  if (fd_ < 0) return EBADF;
  serial_rs485 rs485{};
  rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  rs485.delay_rts_before_send = settings.delay_before_ms;
  rs485.delay_rts_after_send = settings.delay_after_ms;
  int error = ioctl(fd_, TIOCSRS485, &rs485) == 0 ? 0 : errno;
  // The kernel clamps the delays (to 100 ms in most UART drivers) and may
  // leave the mode off; what it took is what the line gets.
  if (error == 0 && ioctl(fd_, TIOCGRS485, &rs485) == 0) {
    applied.enabled = (rs485.flags & SER_RS485_ENABLED) != 0;
    applied.delay_before_ms = rs485.delay_rts_before_send;
    applied.delay_after_ms = rs485.delay_rts_after_send;
    if (!applied.enabled) error = EOPNOTSUPP;
  } else if (error == 0) {
    applied = settings;
  }
  if (error != 0) {
    // Opening raised RTS; a transceiver whose driver enable is wired to it
    // would hold the bus for as long as the port is open.
    int rts = TIOCM_RTS;
    ioctl(fd_, TIOCMBIC, &rts);
  }
  return error;
}

LineErrors SerialPort::Errors() {
  LineErrors now;
  if (fd_ < 0 || !has_icount_ || !ReadIcount(fd_, now)) return marked_;
  LineErrors errors = now - icount_at_open_;
  // A driver may keep the interrupt counters without counting line errors
  // in them; the marks then know more.
  const uint32_t marked = marked_.parity + marked_.framing + marked_.breaks;
  if (marked > errors.parity + errors.framing + errors.breaks) {
    errors.parity = marked_.parity;
    errors.framing = marked_.framing;
    errors.breaks = marked_.breaks;
  }
  return errors;
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
    if (marking_) count = marks_.Decode(buffer, count, marked_);
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
  marks_.Reset();
  if (tcflush(fd_, TCIFLUSH) != 0) return FromErrno(errno);
  return SerialIo::kOk;
}

}  // namespace tk571::platform
