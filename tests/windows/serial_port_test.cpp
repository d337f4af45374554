// The Win32 serial port on a real terminal device: the port named by
// TK571_TEST_PORT ("Com2") is the slave of a pseudo-terminal whose master
// side has queued "HELLO\r\n" and then reads nothing more, so that writes
// fill the line and have to give up.
#include "platform/serial_port.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/windows_api.h"

namespace tk571::platform {
namespace {

std::string TestPort() {
  const char* port = std::getenv("TK571_TEST_PORT");
  return port ? port : "";
}

SerialSettings Line7E1() {
  SerialSettings s;
  s.baud = 9600;
  s.data_bits = 7;
  s.parity = SerialParity::kEven;
  s.flow = SerialFlow::kKeep;
  s.parity_check = true;
  return s;
}

TEST(SerialLineTest, ReadsWhatIsQueuedAndGivesUpAWriteTheLineDoesNotTake) {
  const std::string name = TestPort();
  if (name.empty()) GTEST_SKIP() << "TK571_TEST_PORT names no port";
  SerialPort port;
  ASSERT_EQ(port.Open(name).result, SerialOpenResult::kOpened);
  ASSERT_TRUE(port.IsOpen());
  // A pseudo-terminal keeps 8 data bits without parity: not a refusal.
  ASSERT_EQ(port.Configure(Line7E1()), SerialIo::kOk);
  // The port driver's RTS toggle has no delays to offer.
  SerialRs485 applied;
  EXPECT_EQ(port.EnableRs485(SerialRs485{true, 5, 0}, applied), EINVAL);
  EXPECT_FALSE(applied.enabled);

  // What the other side queued arrives; a read never waits for more.
  std::string received;
  for (int attempt = 0; attempt < 200 && received.size() < 7; ++attempt) {
    std::size_t queued = 0;
    ASSERT_EQ(port.Available(queued), SerialIo::kOk);
    if (queued == 0) {
      Sleep(10);
      continue;
    }
    std::vector<uint8_t> buffer(queued);
    std::size_t got = 0;
    ASSERT_EQ(port.Read(buffer.data(), buffer.size(), got), SerialIo::kOk);
    received.append(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
  }
  EXPECT_EQ(received, "HELLO\r\n");
  // A clean line: the error mask shows nothing, nothing was discarded.
  EXPECT_EQ(port.Errors(), LineErrors());
  std::size_t queued = 1;
  EXPECT_EQ(port.Available(queued), SerialIo::kOk);
  EXPECT_EQ(queued, 0u);
  uint8_t byte = 0;
  std::size_t got = 1;
  EXPECT_EQ(port.Read(&byte, 1, got), SerialIo::kOk);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(port.PurgeInput(), SerialIo::kOk);

  // Nobody reads the other side: the line fills, the write gives up, its
  // overlapped operation is cancelled, and the port stays usable.
  const std::vector<uint8_t> flood(1 << 20, 'x');
  std::size_t written = 0;
  EXPECT_EQ(port.Write(flood.data(), flood.size(), 300, written), SerialIo::kTimeout);
  EXPECT_LT(written, flood.size());
  EXPECT_EQ(port.Write(flood.data(), flood.size(), 100, written), SerialIo::kTimeout);
  EXPECT_EQ(port.Available(queued), SerialIo::kOk);
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Write(flood.data(), 1, 100, written), SerialIo::kFailed);
}

}  // namespace
}  // namespace tk571::platform
