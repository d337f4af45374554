// A driver's life as the run log tells it: creation lines, rejected tags,
// the stop report. Driven through the entry points, read back from the file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "driver/thread_objects.h"
#include "e2e/wire.h"
#include "engine/run_log.h"
#include "log/log_fixtures.h"
#include "platform/gbk.h"
#include "support/fake_clock.h"
#include "support/tag_defs.h"
#include "tk571/driver.h"
#include "tk571sim/line.h"

namespace tk571 {
namespace {

using platform::ToGbk;
using testing::FakeClock;
using testing::TagDef;
using testing::TempDir;

class LifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogFileName(dir_ / "TK571_485.Log");
    block_.assign(TK571_PDB_SIZE, 0);
    FullPDB(block_.data());
    // Device 1 instead of device 0, on Com9: a simulated line.
    block_[TK571_PDB_ENTRIES + TK571_PDB_ENTRY_TYPE_CODE] = 1;
    uint8_t* entry1 = &block_[TK571_PDB_ENTRIES + TK571_PDB_ENTRY_SIZE];
    entry1[TK571_PDB_ENTRY_TYPE_CODE] = 0;
    entry1[TK571_PDB_ENTRY_TYPE_NAME] = 5;
    std::memcpy(entry1 + TK571_PDB_ENTRY_TYPE_NAME + 1, "TK571", 5);
    block_[TK571_PDB_DEBUG_ENABLED] = 1;
    line_.AddController(1);
    setenv("TK571_COM9", line_.LinkPath().c_str(), 1);
    block_[TK571_PDB_PORT] = 8;
  }
  void TearDown() override { DestroyThreadObject(); }

  bool Start(std::vector<TTagInfo> defs, std::string* message = nullptr) {
    std::vector<TTagInfo*> pointers;
    for (auto& d : defs) pointers.push_back(&d);
    char* text = nullptr;
    const bool ok =
        IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), block_.data(), &text);
    if (message) *message = text ? text : "";
    std::free(text);
    return ok;
  }
  std::string Log() const { return testing::ReadFile(dir_ / "TK571_485.Log"); }

  FakeClock clock_;
  TempDir dir_;
  sim::Line line_{sim::LineSettings{}};
  std::vector<uint8_t> block_;
};

TEST_F(LifecycleTest, StartAndStopReport) {
  Start({TagDef(1, "READ1:1", 0, 100, "weight"), TagDef(2, "XYZ1:1", 0, 100, "bad"),
         TagDef(3, "M_FINAL1:2", 0, 100, "final2")});
  const std::string d = DateTimeText();
  FreeDriver();
  const std::string log = Log();
  auto has = [&](const std::string& utf8) { return log.find(ToGbk(utf8)) != std::string::npos; };
  EXPECT_TRUE(has("：总物理内存 = ")) << platform::FromGbk(log);
  EXPECT_TRUE(has("：启动驱动程序TK571配料控制器(RS485)  ...\r\n"));
  EXPECT_TRUE(has("：工程中存在0001号 智能仪表：TK571\r\n"));
  EXPECT_TRUE(has("错误报告：由于出现错误，系统在通讯时丢弃该标签！"));
  EXPECT_TRUE(has("：标签weight，地址=READ1:1，读扫描周期(毫秒)=0，读操作失败率= 0%\r\n"));
  EXPECT_TRUE(
      has("：标签final2，地址=M_FINAL1:2，读扫描周期(毫秒)=0，读操作失败率= "
          "0%，写操作总次数=0，写操作失败率= 0%\r\n"));
  EXPECT_TRUE(has("：读操作失败总次数= 0\r\n"));
  EXPECT_TRUE(has("：通讯读超时率= 0%\r\n"));
  EXPECT_TRUE(has("驱动程序版本"));
  EXPECT_TRUE(has("退出运行！\r\n" + std::string(60, '-') + "\r\n"));
  EXPECT_EQ(log.find(ToGbk("：标签bad，地址")), std::string::npos)
      << "rejected tags are not in the report";
  // Stop is idempotent and the stopped object holds no tags.
  const std::size_t size = log.size();
  FreeDriver();
  EXPECT_EQ(Log().size(), size);
  int32_t count = -1;
  TTagValueRec records[4];
  EXPECT_EQ(OnDataRead(&count, records, nullptr), 1);
  EXPECT_EQ(count, 0);
}

TEST_F(LifecycleTest, NoAcceptableTagFailsTheStart) {
  std::string message;
  EXPECT_FALSE(Start({TagDef(1, "XYZ1:1"), TagDef(2, "READ7:1")}, &message));
  EXPECT_EQ(message, ToGbk("驱动程序加载失败：无合法标签！\r\n"));
  const std::string log = Log();
  EXPECT_NE(log.find(ToGbk("：驱动程序加载失败：无合法标签！\r\n")), std::string::npos);
  EXPECT_NE(log.find(std::string(60, '-')), std::string::npos)
      << "the failed start writes its stop report";
  EXPECT_EQ(DetectScanTime(), 500);
  EXPECT_EQ(FreeDriver(), 1);
}

TEST_F(LifecycleTest, InitialValuesAreNotReportedUntilTheyChange) {
  TTagInfo with_value = TagDef(2, "READ1:1", 0);
  with_value.InitialValue.vt = 5;
  with_value.InitialValue.Data.Double = 7.5;
  Start({TagDef(1, "READ1:1", 0), with_value, TagDef(3, "COMMLINK", 2)});
  int32_t count = -1;
  TTagValueRec records[3];
  char* message = nullptr;
  EXPECT_EQ(OnDataRead(&count, records, &message), 1);
  EXPECT_EQ(count, 0);
  std::free(message);
}

TEST_F(LifecycleTest, TagsOfAnUnknownDataKindAreDroppedAndTheirWritesRefused) {
  ASSERT_TRUE(
      Start({TagDef(1, "M_FINAL1:1", TK571_VALUE_FLOAT, 100, "good"),
             TagDef(2, "M_FINAL1:2", 3, 100, "kind3"), TagDef(3, "COMMLINK", 4, 100, "kind4")}));
  const std::string log = Log();
  for (const char* dropped : {"kind3", "kind4"}) {
    SCOPED_TRACE(dropped);
    EXPECT_NE(log.find(ToGbk(std::string("：标签") + dropped +
                             "错误报告：由于出现错误，系统在通讯时丢弃该标签！\r\n")),
              std::string::npos)
        << platform::FromGbk(log);
  }
  EXPECT_NE(log.find(ToGbk("：标签kind3错误：标签地址M_FINAL1:2的数据类型3无效。\r\n")),
            std::string::npos);
  EXPECT_EQ(log.find(ToGbk("：标签good错误")), std::string::npos);

  // A record of a value type the host does not define, whose value bytes
  // would be a wild pointer if read as a string; and one of the right type
  // for a tag that was dropped.
  const struct {
    uint32_t id;
    uint8_t type;
  } cases[] = {{1, 3}, {2, 3}, {1, 200}, {3, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + "/" + std::to_string(c.type));
    TTagValueRec record{};
    record.TagID = c.id;
    record.ValueType = c.type;
    record.Value.Float = 1.0;
    char* message = nullptr;
    EXPECT_EQ(OnDataWrite(1, &record, &message), 0);
    std::free(message);
  }
}

// The driver signals the host's event on a severe failure. Only an eventfd
// is an event: a regular file or a pipe passed by mistake is refused, logged
// and never written, and refusing it also forgets an event given before.
TEST_F(LifecycleTest, OnlyAnEventfdIsSignalledOnASevereFailure) {
  line_.SetFaults(1, {.silent = true});
  ASSERT_TRUE(Start({TagDef(1, "READ1:1", 0, 10)}));

  const std::string file_path = dir_ / "host_data.bin";
  testing::WriteFile(file_path, "0123456789");
  const int file = ::open(file_path.c_str(), O_RDWR | O_CLOEXEC);
  int pipe_ends[2];
  ASSERT_EQ(::pipe2(pipe_ends, O_NONBLOCK | O_CLOEXEC), 0);
  const int event = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  ASSERT_GE(file, 0);
  ASSERT_GE(event, 0);

  const std::string severe = ToGbk("严重故障：连续通讯失败，请检查线路和设备");
  auto poll_until_severe = [&] {
    for (int i = 0; i < 5000; ++i) {
      // The exchanges run on the line thread: it takes the time just given.
      if (LineThread* line = ThreadLine()) line->RunUntilIdle();
      int32_t count = 0;
      TTagValueRec record{};
      char* message = nullptr;
      OnDataRead(&count, &record, &message);
      const bool found = message && severe == message;
      std::free(message);
      if (found) return true;
      clock_.Advance(50);
    }
    return false;
  };
  auto signals = [&] {
    uint64_t n = 0;
    return ::read(event, &n, sizeof n) == sizeof n ? n : 0;
  };

  EXPECT_EQ(IniDriverEx(static_cast<uint32_t>(event)), 1);
  for (int refused : {file, pipe_ends[1], 9999}) {
    EXPECT_EQ(IniDriverEx(static_cast<uint32_t>(refused)), 1);
    EXPECT_NE(Log().find(ToGbk("：主机事件" + std::to_string(refused) +
                               "不是eventfd，驱动程序不向它发信号！\r\n")),
              std::string::npos)
        << refused;
  }
  ASSERT_TRUE(poll_until_severe());
  char byte;
  EXPECT_EQ(::read(pipe_ends[0], &byte, 1), -1) << "nothing was written into the pipe";
  EXPECT_EQ(testing::ReadFile(file_path), "0123456789");
  EXPECT_EQ(signals(), 0u);

  EXPECT_EQ(IniDriverEx(static_cast<uint32_t>(event)), 1);
  ASSERT_TRUE(poll_until_severe());
  EXPECT_GT(signals(), 0u);
  for (int fd : {file, pipe_ends[0], pipe_ends[1], event}) ::close(fd);
}

// The dialogue's pauses are the controller's time, spent on the line thread:
// the test clock stands still, so the pause after the first "R" never ends by
// itself, and still the host's calls and FreeDriver return.
TEST_F(LifecycleTest, HostCallsAndFreeDriverDoNotWaitForADialoguePause) {
  ASSERT_TRUE(Start({TagDef(1, "READ1:1"), TagDef(2, "READ_SETM1:1", TK571_VALUE_BOOL)}));
  TTagValueRec write{};
  write.TagID = 2;
  write.ValueType = TK571_VALUE_BOOL;
  write.Value.Bool = 1;
  char* message = nullptr;
  EXPECT_EQ(OnDataWrite(1, &write, &message), 1);
  std::free(message);
  bool paused = false;
  for (int look = 0; look < 10000 && !paused; ++look) {
    paused = testing::CountOf(testing::WriteRequests(line_.Trace()), "R\r\n") > 0;
    if (!paused) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(paused) << "the dialogue never began";
  const uint32_t tick = clock_.TickMs();
  int32_t count = -1;
  TTagValueRec records[2];
  EXPECT_EQ(OnDataRead(&count, records, nullptr), 1);
  EXPECT_EQ(OnDataWrite(1, &write, nullptr), 0) << "a repeated write is refused, not queued";
  EXPECT_EQ(FreeDriver(), 1);
  EXPECT_EQ(clock_.TickMs(), tick) << "nothing waited for the pause's time";
  EXPECT_EQ(testing::CountOf(testing::WriteRequests(line_.Trace()), "SET\r\n"), 0)
      << "a stopping line sends nothing more";
}

// A run log that cannot be written (its directory cannot be made: a file is
// in the way) is reported once, through the message the host collects; the
// driver runs on.
TEST_F(LifecycleTest, AnUnwritableLogIsReportedOnceThroughTheMessage) {
  testing::WriteFile(dir_ / "Debug", "not a directory");
  const std::string log_file = dir_ / "Debug/TK571_485.Log";
  SetLogFileName(log_file);
  const std::string report = ToGbk("运行日志无法写入：") + log_file;
  std::vector<std::string> messages;
  std::string message;
  ASSERT_TRUE(Start({TagDef(1, "READ1:1", 0, 100, "weight")}, &message));
  messages.push_back(message);
  auto collect = [&] {
    int32_t count = -1;
    TTagValueRec records[4];
    char* text = nullptr;
    OnDataRead(&count, records, &text);
    messages.emplace_back(text ? text : "");
    std::free(text);
    text = nullptr;
    GetDeviceStatus(&text);
    messages.emplace_back(text ? text : "");
    std::free(text);
  };
  for (int i = 0; i < 5; ++i) collect();
  FreeDriver();
  collect();
  std::string seen;
  for (const std::string& m : messages) seen += platform::FromGbk(m) + "|";
  EXPECT_EQ(std::count(messages.begin(), messages.end(), report), 1) << seen;
  EXPECT_FALSE(std::filesystem::exists(log_file));
}

}  // namespace
}  // namespace tk571
