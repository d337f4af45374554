// TCommClass over real pseudo-terminals. The test holds the master side (the
// controller's end); the class opens the slave through TK571_COM<N>, which
// points at a symbolic link in a temporary directory. Unplugging is closing
// the master; plugging back in is a new pseudo-terminal with the link
// re-pointed at its slave, as udev keeps a stable name for a USB adapter.
#include "comm/comm_class.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "comm/pty_peer.h"
#include "config/device_pdb.h"
#include "platform/clock.h"
#include "platform/gbk.h"
#include "support/fake_clock.h"

namespace tk571 {
namespace {

using test::PointLink;
using test::PtyPeer;
using test::TempDir;
using testing::FakeClock;

const std::string kAck = "\x06";

std::string Busy(int port) {
  return "Com" + std::to_string(port) + platform::ToGbk("不存在或被其它程序占用！");
}
std::string Opened(int port) {
  return "Com" + std::to_string(port) + platform::ToGbk("打开成功");
}

class CommClassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    link_ = dir_.path() + "/com1";
    setenv("TK571_COM1", link_.c_str(), 1);
    pdb_.FillDefaults();
  }
  void TearDown() override { unsetenv("TK571_COM1"); }

  // A pseudo-terminal behind Com1, and the class opened on it.
  void Plug() {
    peer_ = std::make_unique<PtyPeer>();
    PointLink(link_, peer_->SlavePath());
  }
  void OpenCom1(bool text_mode = true) {
    Plug();
    std::string message;
    ASSERT_TRUE(comm_.Open(pdb_, text_mode, message)) << platform::FromGbk(message);
  }

  // Receives until the buffer holds `size` characters or 3 s have passed.
  std::string ReceiveUntil(std::size_t size) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    std::string got = comm_.Receive();
    while (got.size() < size && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      got = comm_.Receive();
    }
    return got;
  }

  FakeClock clock_;
  TempDir dir_;
  std::string link_;
  TDevicePDB pdb_;
  std::unique_ptr<PtyPeer> peer_;
  TCommClass comm_{true};
};

TEST_F(CommClassTest, OpenReportsTheStatusWithThePortName) {
  struct Case {
    uint8_t port;
    const char* expected_name;
  };
  for (const Case c : {Case{0, "Com1"}, Case{9, "Com10"}, Case{15, "Com16"}}) {
    SCOPED_TRACE(c.expected_name);
    PtyPeer peer;
    const std::string var = "TK571_COM" + std::to_string(c.port + 1);
    setenv(var.c_str(), peer.SlavePath().c_str(), 1);
    pdb_.SetPort(c.port);
    TCommClass comm(true);
    std::string message = "old";
    EXPECT_TRUE(comm.Open(pdb_, true, message));
    EXPECT_EQ(message, Opened(c.port + 1));
    EXPECT_EQ(comm.StatusText(), message);
    EXPECT_EQ(comm.PortName(), c.expected_name);
    EXPECT_TRUE(comm.IsOpen());
    unsetenv(var.c_str());
  }
  EXPECT_EQ(clock_.sleeps(), 0);
}

TEST_F(CommClassTest, BlockSettingsOutsideTheTablesOpenNothing) {
  struct Case {
    const char* what;
    std::function<void(TDevicePDB&)> damage;
  };
  const Case cases[] = {
      {"port 16", [](TDevicePDB& b) { b.SetPort(16); }},
      {"port 255", [](TDevicePDB& b) { b.SetPort(255); }},
      {"baud 15", [](TDevicePDB& b) { b.SetBaudIndex(15); }},
      {"4 data bits", [](TDevicePDB& b) { b.SetDataBitsCode(0); }},
      {"data bits 5", [](TDevicePDB& b) { b.SetDataBitsCode(5); }},
      {"parity 5", [](TDevicePDB& b) { b.SetParityCode(5); }},
      {"stop bits 3", [](TDevicePDB& b) { b.SetStopBitsCode(3); }},
  };
  Plug();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TDevicePDB block = pdb_;
    c.damage(block);
    TCommClass comm(true);
    std::string message;
    ASSERT_TRUE(comm.Open(pdb_, true, message));
    // A second Open with the damaged block lets the port go.
    EXPECT_FALSE(comm.Open(block, true, message));
    EXPECT_EQ(message, platform::ToGbk("设备参数中的串口设置有误!"));
    EXPECT_FALSE(comm.IsOpen());
    // Nor does a later Send try to open anything.
    clock_.Advance(10000);
    EXPECT_FALSE(comm.Send("READ\r\n"));
    EXPECT_FALSE(comm.IsOpen());
  }
  EXPECT_EQ(peer_->ReadFor(20), "");
  EXPECT_EQ(clock_.sleeps(), 0);
}

TEST_F(CommClassTest, AMissingDeviceIsTriedFor5000Ms) {
  // Nothing at the link, and something that is not a terminal.
  for (const std::string& path : {link_, std::string("/dev/null")}) {
    SCOPED_TRACE(path);
    setenv("TK571_COM1", path.c_str(), 1);
    const int sleeps_before = clock_.sleeps();
    const uint32_t start = clock_.TickMs();
    std::string message;
    EXPECT_FALSE(comm_.Open(pdb_, true, message));
    EXPECT_EQ(message, Busy(1));
    EXPECT_FALSE(comm_.IsOpen());
    EXPECT_GE(clock_.TickMs() - start, TCommClass::kOpenRetryMs);
    EXPECT_LT(clock_.TickMs() - start,
              TCommClass::kOpenRetryMs + 2 * TCommClass::kOpenRetryPauseMs);
    EXPECT_GT(clock_.sleeps() - sleeps_before, 10);  // tried again and again, pausing in between
  }
}

TEST_F(CommClassTest, ADeviceThatAppearsWithinTheRetryTimeOpens) {
  PtyPeer peer;
  clock_.on_sleep = [&](int sleeps) {
    if (sleeps == 20) PointLink(link_, peer.SlavePath());
  };
  std::string message;
  EXPECT_TRUE(comm_.Open(pdb_, true, message));
  EXPECT_EQ(message, Opened(1));
  EXPECT_EQ(clock_.sleeps(), 20);
}

TEST_F(CommClassTest, APortAnotherProgramHoldsDoesNotOpen) {
  Plug();
  {
    // Another program that took the device the same way.
    const int fd = open(peer_->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    std::string message;
    EXPECT_FALSE(comm_.Open(pdb_, true, message));
    EXPECT_EQ(message, Busy(1));
    close(fd);
  }
  {
    // Another driver instance holding the port.
    std::string message;
    ASSERT_TRUE(comm_.Open(pdb_, true, message));
    TCommClass second(true);
    EXPECT_FALSE(second.Open(pdb_, true, message));
    EXPECT_EQ(message, Busy(1));
    EXPECT_EQ(second.Diagnosis(),
              "Com1 (" + link_ + "): held by process " + std::to_string(getpid()) + " (comm_test)");
    comm_.Close();
    EXPECT_TRUE(second.Open(pdb_, true, message));
    EXPECT_EQ(message, Opened(1));
  }
}

TEST_F(CommClassTest, ProtocolExchangesPassByteForByte) {
  std::string status_line;
  // Four fields of 18 characters, the value in columns 7..14 of each.
  for (int m = 1; m <= 4; ++m) status_line += "M" + std::to_string(m) + " FI +0012.50kg  ";
  status_line.replace(70, 2, "\r\n");
  ASSERT_EQ(status_line.size(), 72u);
  struct Case {
    const char* what;
    std::string request;
    std::string answer;
  };
  const Case cases[] = {
      {"select device 1", "\x05\x49\x44\x30\x31\x0D\x0A", kAck + "01\r\n"},
      {"read", "READ\r\n", "ST,GS,+0012.50kg\r\n"},
      {"status line", kAck + "\r\n", status_line},
      // Raw line: no CR/LF translation, no XON/XOFF, no stripping of bytes.
      {"every byte value", "R\r\n", std::string("\x11\x13\x00\x7F\x80\xFF\r\r\n\n", 10)},
  };
  OpenCom1();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(comm_.Send(c.request));
    EXPECT_EQ(peer_->Read(c.request.size()), c.request);
    peer_->Write(c.answer);
    EXPECT_EQ(ReceiveUntil(c.answer.size()), c.answer);
  }
}

TEST_F(CommClassTest, AnswersSplitAcrossReceivesAreCollected) {
  OpenCom1();
  EXPECT_EQ(comm_.Receive(), "");
  peer_->Write("AB");
  EXPECT_EQ(ReceiveUntil(2), "AB");
  EXPECT_EQ(comm_.Receive(), "AB");  // nothing queued: unchanged
  peer_->Write("C");
  EXPECT_EQ(ReceiveUntil(3), "ABC");
  // The protocol layer keeps an unconsumed remainder.
  comm_.SetReceiveBuffer("C");
  peer_->Write("D\r\n");
  EXPECT_EQ(ReceiveUntil(4), "CD\r\n");
}

TEST_F(CommClassTest, SendStartsANewAnswer) {
  OpenCom1();
  peer_->Write("stale\r\n");
  ASSERT_EQ(ReceiveUntil(7), "stale\r\n");
  ASSERT_TRUE(comm_.Send("READ\r\n"));
  EXPECT_EQ(comm_.ReceiveBuffer(), "");
  EXPECT_EQ(peer_->Read(6), "READ\r\n");
  peer_->Write("US,NT,-0000.20kg\r\n");
  EXPECT_EQ(ReceiveUntil(18), "US,NT,-0000.20kg\r\n");
}

TEST_F(CommClassTest, ARequestIsCutTo255Characters) {
  OpenCom1();
  std::string request;
  for (int i = 0; i < 300; ++i) request.push_back(static_cast<char>('A' + i % 26));
  ASSERT_TRUE(comm_.Send(request));
  EXPECT_EQ(peer_->Read(255), request.substr(0, 255));
  EXPECT_EQ(peer_->ReadFor(50), "");
}

TEST_F(CommClassTest, HexModeSendsAndReceivesDigitPairs) {
  struct Case {
    std::string request;
    bool sent;
    std::string bytes;
  };
  const Case cases[] = {
      {"0549443031", true, "\x05ID01"},
      {"0d0A", true, "\r\n"},
      {"054", true, "\x05"},  // an odd last digit is ignored
      {"", true, ""},
      {"zz", false, ""},
      {"05 4", false, ""},
      {std::string(300, '4'), true, std::string(127, '\x44')},  // 255 digits
  };
  OpenCom1(/*text_mode=*/false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    EXPECT_EQ(comm_.Send(c.request), c.sent);
    EXPECT_EQ(peer_->Read(c.bytes.size()), c.bytes);
  }
  EXPECT_EQ(peer_->ReadFor(20), "");
  peer_->Write(std::string("\x06\xAB\x00\r", 4));
  EXPECT_EQ(ReceiveUntil(8), "06AB000D");
}

TEST_F(CommClassTest, AReceiveTakesAtMostTheInputBufferSize) {
  struct Case {
    std::size_t buffer_size;
    std::size_t sent;
  };
  for (const Case c : {Case{4, 10}, Case{TCommClass::kDefaultBufferSize, 3000}}) {
    SCOPED_TRACE(c.buffer_size);
    OpenCom1();
    comm_.SetInputBufferSize(c.buffer_size);
    std::string data;
    for (std::size_t i = 0; i < c.sent; ++i) data.push_back(static_cast<char>('a' + i % 26));
    peer_->Write(data);
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (got.size() < data.size() && std::chrono::steady_clock::now() < deadline) {
      const std::string now = comm_.Receive();
      EXPECT_LE(now.size() - got.size(), c.buffer_size);
      got = now;
    }
    EXPECT_EQ(got, data);
  }
}

TEST_F(CommClassTest, XonXoffUsesTheEventCharacters) {
  OpenCom1();
  comm_.SetFlowControl(kCommFlowXonXoff);
  comm_.EventChars().SetXonChar('Q');
  comm_.EventChars().SetXoffChar('S');
  peer_->Write("aQbQ!");
  EXPECT_EQ(ReceiveUntil(3), "ab!");
  comm_.SetFlowControl(kCommFlowNone);
  peer_->Write("QS");
  EXPECT_EQ(ReceiveUntil(5), "ab!QS");

  TCommClass other(true);
  other.EventChars() = comm_.EventChars();
  EXPECT_EQ(other.EventChars().XonChar(), 'Q');
  EXPECT_EQ(other.EventChars().XoffChar(), 'S');
}

TEST_F(CommClassTest, AWriteTheLineDoesNotTakeEndsAtTheWriteTimeout) {
  OpenCom1();
  comm_.SetWriteTimeout(20);
  const std::string request(255, 'x');
  // The peer reads nothing, so the line's buffers fill up.
  int sends = 0;
  while (sends < 5000 && comm_.Send(request)) ++sends;
  EXPECT_LT(sends, 5000);
  EXPECT_TRUE(comm_.IsOpen());
  peer_->ReadFor(50);
  EXPECT_TRUE(comm_.Send("READ\r\n"));
}

TEST_F(CommClassTest, AnUnpluggedPortIsClosedAndReopenedBySend) {
  for (const bool noticed_by_receive : {true, false}) {
    SCOPED_TRACE(noticed_by_receive ? "receive" : "send");
    OpenCom1();
    const int sleeps_after_open = clock_.sleeps();

    peer_->Write("AB");
    ASSERT_EQ(ReceiveUntil(2), "AB");
    peer_->CloseMaster();
    if (noticed_by_receive) {
      EXPECT_EQ(comm_.Receive(), "AB");
    } else {
      EXPECT_FALSE(comm_.Send("READ\r\n"));
    }
    EXPECT_FALSE(comm_.IsOpen());

    // While the device is missing, a Send tries once, without pausing.
    std::filesystem::remove(link_);
    clock_.Advance(TCommClass::kReconnectIntervalMs);
    EXPECT_FALSE(comm_.Send("READ\r\n"));
    EXPECT_EQ(comm_.StatusText(), Busy(1));
    EXPECT_EQ(clock_.sleeps(), sleeps_after_open);

    // Back again, but within a second of the last try: not yet.
    Plug();
    EXPECT_FALSE(comm_.Send("READ\r\n"));
    EXPECT_FALSE(comm_.IsOpen());

    clock_.Advance(TCommClass::kReconnectIntervalMs);
    ASSERT_TRUE(comm_.Send("READ\r\n"));
    EXPECT_TRUE(comm_.IsOpen());
    EXPECT_EQ(comm_.StatusText(), Opened(1));
    EXPECT_EQ(peer_->Read(6), "READ\r\n");
    peer_->Write("ST,GS,+0012.50kg\r\n");
    EXPECT_EQ(ReceiveUntil(18), "ST,GS,+0012.50kg\r\n");
    EXPECT_EQ(clock_.sleeps(), sleeps_after_open);
  }
}

// Line errors cannot travel through a pseudo-terminal: this port's device
// counts what the test sets.
class CountingComm : public TCommClass {
 public:
  CountingComm() : TCommClass(true) {}
  platform::LineErrors device;

 protected:
  platform::LineErrors PortErrors() override { return device; }
};

// The protocol layer asks after every exchange: each error is reported once,
// and the counts of a connection that ended stay in the totals until the
// next Open.
TEST_F(CommClassTest, LineErrorsAreTakenOnceAndSurviveAReconnection) {
  CountingComm comm;
  Plug();
  std::string message;
  ASSERT_TRUE(comm.Open(pdb_, true, message));
  EXPECT_EQ(comm.TakeLineErrors(), platform::LineErrors());
  comm.device.parity = 2;
  EXPECT_EQ(comm.TakeLineErrors(), (platform::LineErrors{2, 0, 0, 0}));
  EXPECT_EQ(comm.TakeLineErrors(), platform::LineErrors());
  comm.device.framing = 1;

  peer_->CloseMaster();
  comm.Receive();
  ASSERT_FALSE(comm.IsOpen());
  Plug();
  comm.device = platform::LineErrors();  // a new connection counts from 0
  clock_.Advance(TCommClass::kReconnectIntervalMs);
  ASSERT_TRUE(comm.Send("READ\r\n"));
  comm.device.breaks = 1;
  EXPECT_EQ(comm.TakeLineErrors(), (platform::LineErrors{0, 1, 0, 1}));
  EXPECT_EQ(comm.LineErrorCounts(), (platform::LineErrors{2, 1, 0, 1}));

  comm.device = platform::LineErrors();
  ASSERT_TRUE(comm.Open(pdb_, true, message));
  EXPECT_EQ(comm.LineErrorCounts(), platform::LineErrors());
}

TEST_F(CommClassTest, CloseKeepsThePortClosed) {
  OpenCom1();
  comm_.Close();
  clock_.Advance(10 * TCommClass::kReconnectIntervalMs);
  EXPECT_FALSE(comm_.Send("READ\r\n"));
  EXPECT_FALSE(comm_.IsOpen());
  EXPECT_EQ(peer_->ReadFor(20), "");
}

}  // namespace
}  // namespace tk571
