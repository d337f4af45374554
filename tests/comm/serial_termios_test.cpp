// The line settings as the terminal driver receives them: the termios
// mapping, and the speeds and stop bits a pseudo-terminal reports back after
// the class has configured it.
#include "platform/posix/serial_termios.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include "comm/comm_class.h"
#include "comm/pty_peer.h"
#include "config/device_pdb.h"
#include "platform/posix/serial_termios2.h"

namespace tk571 {
namespace {

using platform::SerialFlow;
using platform::SerialParity;
using platform::SerialSettings;
using platform::SerialStopBits;

termios CookedTerminal() {
  termios t{};
  t.c_iflag = ICRNL | IXON | IXANY;
  t.c_oflag = OPOST | ONLCR;
  t.c_cflag = CS8 | CREAD | HUPCL;
  t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 5;
  return t;
}

TEST(SerialTermiosTest, SettingsMapOntoTermios) {
  constexpr tcflag_t kLineBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  constexpr tcflag_t kInputBits = INPCK | PARMRK | IXON | IXOFF | IXANY | ICRNL | IGNPAR;
  // Checked input marks bytes with parity or framing errors, also on a line
  // without parity.
  constexpr tcflag_t kChecked = INPCK | PARMRK;
  struct Case {
    const char* what;
    SerialSettings settings;
    tcflag_t found_cflag;  // extra bits on the device before
    tcflag_t line;
    tcflag_t input;
    speed_t speed;
  };
  auto s = [](uint32_t baud, uint8_t bits, SerialParity parity, SerialStopBits stop,
              SerialFlow flow = SerialFlow::kKeep, bool check = true) {
    SerialSettings r;
    r.baud = baud;
    r.data_bits = bits;
    r.parity = parity;
    r.stop_bits = stop;
    r.flow = flow;
    r.parity_check = check;
    r.xon_char = 'Q';
    r.xoff_char = 'S';
    return r;
  };
  const Case cases[] = {
      {"9600 7E1", s(9600, 7, SerialParity::kEven, SerialStopBits::kOne), 0, CS7 | PARENB, kChecked,
       B9600},
      {"odd", s(110, 8, SerialParity::kOdd, SerialStopBits::kOne), 0, CS8 | PARENB | PARODD,
       kChecked, B110},
      {"mark", s(300, 7, SerialParity::kMark, SerialStopBits::kOne), 0,
       CS7 | PARENB | CMSPAR | PARODD, kChecked, B300},
      {"space", s(600, 7, SerialParity::kSpace, SerialStopBits::kOne), 0, CS7 | PARENB | CMSPAR,
       kChecked, B600},
      {"no parity check",
       s(1200, 6, SerialParity::kEven, SerialStopBits::kOne, SerialFlow::kKeep, false), 0,
       CS6 | PARENB, 0, B1200},
      {"1.5 stop bits", s(2400, 5, SerialParity::kNone, SerialStopBits::kOneAndHalf), 0,
       CS5 | CSTOPB, kChecked, B2400},
      {"rts/cts", s(9600, 8, SerialParity::kNone, SerialStopBits::kOne, SerialFlow::kRtsCts), 0,
       CS8 | CRTSCTS, kChecked, B9600},
      {"keep rts/cts", s(9600, 8, SerialParity::kNone, SerialStopBits::kOne), CRTSCTS,
       CS8 | CRTSCTS, kChecked, B9600},
      {"none drops rts/cts",
       s(9600, 8, SerialParity::kNone, SerialStopBits::kOne, SerialFlow::kNone), CRTSCTS, CS8,
       kChecked, B9600},
      {"dsr/dtr", s(9600, 8, SerialParity::kNone, SerialStopBits::kOne, SerialFlow::kDsrDtr),
       CRTSCTS, CS8, kChecked, B9600},
      {"xon/xoff", s(9600, 8, SerialParity::kNone, SerialStopBits::kOne, SerialFlow::kXonXoff), 0,
       CS8, IXON | IXOFF | kChecked, B9600},
      // No termios constant: the speed stays for termios2 to set.
      {"14400", s(14400, 8, SerialParity::kNone, SerialStopBits::kOne), 0, CS8, kChecked, B38400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    termios t = CookedTerminal();
    cfsetispeed(&t, B38400);
    cfsetospeed(&t, B38400);
    t.c_cflag |= c.found_cflag;
    ASSERT_TRUE(platform::posix::ApplyToTermios(c.settings, t));
    EXPECT_EQ(t.c_cflag & kLineBits, c.line);
    EXPECT_EQ(t.c_iflag & kInputBits, c.input);
    platform::SerialFrame frame = platform::FrameOf(c.settings);
    if (frame.stop_bits == SerialStopBits::kOneAndHalf) frame.stop_bits = SerialStopBits::kTwo;
    EXPECT_EQ(platform::FrameName(platform::posix::FrameOfTermios(t)), platform::FrameName(frame));
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    if (c.settings.flow == SerialFlow::kXonXoff) {
      EXPECT_EQ(t.c_cc[VSTART], 'Q');
      EXPECT_EQ(t.c_cc[VSTOP], 'S');
    }
  }
  for (const uint8_t bits : {4, 9}) {
    termios t = CookedTerminal();
    const termios before = t;
    EXPECT_FALSE(platform::posix::ApplyToTermios(
        s(9600, bits, SerialParity::kNone, SerialStopBits::kOne), t));
    EXPECT_EQ(t.c_cflag, before.c_cflag);
  }
}

// Every baud index of the block reaches the device, the rates without a
// termios constant included, and the stop bits with it.
TEST(SerialTermiosTest, TheBlockSettingsReachTheDevice) {
  test::PtyPeer peer;
  setenv("TK571_COM1", peer.SlavePath().c_str(), 1);
  // Opened before the class takes the port, to look at the terminal's
  // settings; it holds no lock, so the class still gets the port.
  const int fd = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  TDevicePDB pdb;
  pdb.FillDefaults();
  for (uint8_t index = 0; index < kCommBaudRates.size(); ++index) {
    SCOPED_TRACE(kCommBaudRates[index]);
    pdb.SetBaudIndex(index);
    pdb.SetStopBitsCode(index % 3);
    TCommClass comm(true);
    std::string message;
    ASSERT_TRUE(comm.Open(pdb, true, message));
    uint32_t baud = 0;
    ASSERT_EQ(platform::posix::GetBaud(fd, baud), 0);
    EXPECT_EQ(baud, kCommBaudRates[index]);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, index % 3 != 0);
  }
  // Baud index 6, data bits code 3, parity code 2, stop bits code 0.
  pdb.SetBaudIndex(6);
  pdb.SetStopBitsCode(0);
  TCommClass comm(true);
  std::string message;
  ASSERT_TRUE(comm.Open(pdb, true, message));
  const SerialSettings s = comm.LineSettings();
  EXPECT_EQ(s.baud, 9600u);
  EXPECT_EQ(s.data_bits, 7);
  EXPECT_EQ(s.parity, SerialParity::kEven);
  EXPECT_EQ(s.stop_bits, SerialStopBits::kOne);
  EXPECT_TRUE(s.parity_check);
  EXPECT_EQ(s.flow, SerialFlow::kKeep);
  close(fd);
  unsetenv("TK571_COM1");
}

}  // namespace
}  // namespace tk571
