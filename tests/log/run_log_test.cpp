// The run log as files on disk: where it lives, how texts land in it, how it
// is archived and purged, and the texts its lines are built from.
#include "engine/run_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cmath>
#include <set>
#include <thread>
#include <vector>

#include "engine/guarded.h"
#include "log/log_fixtures.h"
#include "platform/gbk.h"

namespace tk571 {
namespace {

using namespace tk571::testing;
using platform::ToGbk;

// ---- Where the log lives ----

TEST(LogPathTest, FollowsTheInstallationFile) {
  const struct {
    const char* host_program;  // '@' is the scratch directory
    const char* tesmark;       // host/Tesmark.ini; nullptr for none
    const char* expected;
  } cases[] = {
      {"", nullptr, "./Debug/TK571_485.Log"},
      {"@/host/Vanta.exe", nullptr, "./Debug/TK571_485.Log"},
      {"@/host/Vanta.exe", "[WORKING]\r\nDefaultPROJECT=/plants/L1/L1.prj\r\n",
       "/plants/L1/Debug/TK571_485.Log"},
      {"@/host/Vanta.exe", "[WORKING]\r\nDefaultPROJECT=D:\\Plants\\Line1\\Line1.prj\r\n",
       "D:/Plants/Line1/Debug/TK571_485.Log"},
      {"@\\host\\Vanta.exe", "[WORKING]\nDefaultPROJECT=/p/x.prj\n", "/p/Debug/TK571_485.Log"},
      {"  @/host/Vanta.exe ", "[WORKING]\nDefaultPROJECT=/p/x.prj\n", "/p/Debug/TK571_485.Log"},
      {"@/host/Vanta.exe", "[WORKING]\r\n", "./Debug/TK571_485.Log"},
      {"@/host/Vanta.exe", "[WORKING]\nDefaultPROJECT=L1.prj\n", "Debug/TK571_485.Log"},
  };
  for (const auto& c : cases) {
    TempDir tmp;
    // Working in scratch/work: "../" is the scratch directory, without an
    // installation file.
    ScopedCwd cwd(tmp.path() / "work");
    if (c.tesmark) WriteFile(tmp / "host/Tesmark.ini", c.tesmark);
    std::string host_program = c.host_program;
    if (auto at = host_program.find('@'); at != std::string::npos) {
      host_program.replace(at, 1, tmp.path().string());
    }
    EXPECT_EQ(ComputeLogFileName(host_program), c.expected) << c.host_program << c.tesmark;
  }
}

TEST(LogPathTest, ParentInstallationServesAHostWithoutOne) {
  TempDir tmp;
  ScopedCwd cwd(tmp.path() / "work");
  WriteFile(tmp / "Tesmark.ini", "[WORKING]\r\nDefaultPROJECT=/from/parent/p.prj\r\n");
  EXPECT_EQ(ComputeLogFileName(tmp / "host/Vanta.exe"), "/from/parent/Debug/TK571_485.Log");
}

TEST(LogPathTest, FallbackDirectoryIsCreatedByTheFirstWrite) {
  TempDir tmp;
  ScopedCwd cwd(tmp.path() / "work");
  ScopedEnv env("KELDA_PATH", std::nullopt);
  RefreshLogFileName();
  EXPECT_EQ(LogFileName(), "./Debug/TK571_485.Log");
  ASSERT_FALSE(fs::exists(tmp.path() / "work/Debug"));
  EXPECT_TRUE(WriteLogText("first"));
  EXPECT_EQ(ReadFile(tmp / "work/Debug/TK571_485.Log"), "first");
}

// ---- Writing ----

TEST(LogWriteTest, TextsAreWrittenAsGivenAndContinueTheLine) {
  TempDir tmp;
  const std::string log = tmp / "deep/er/Debug/TK571_485.Log";
  const std::string first = ToGbk("2024-03-15 10:30:05：标签A，地址=READ1:1，读操作失败率= 0%");
  const std::string second = ToGbk("，写操作总次数=3，写操作失败率= 0%\r\n");
  EXPECT_TRUE(AppendLogText(log, first));
  EXPECT_TRUE(AppendLogText(log, second));
  EXPECT_EQ(ReadFile(log), first + second);
}

TEST(LogWriteTest, UnwritablePlacesDropTheTextQuietly) {
  TempDir tmp;
  WriteFile(tmp / "plain", "x");
  fs::create_directories(tmp.path() / "adir.Log");
  for (const std::string& path : {tmp / "plain/Debug/TK571_485.Log", tmp / "adir.Log",
                                  std::string("TK571_485.Log"), std::string()}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(OpenLogStream(path));
    EXPECT_FALSE(AppendLogText(path, "lost\r\n"));
    MaintainLogFiles(path, LocalTime(2024, 3, 15, 10));
  }
  EXPECT_EQ(ReadFile(tmp / "plain"), "x");
  EXPECT_TRUE(OpenLogStream(tmp / "a/b/TK571_485.Log"));
  EXPECT_EQ(fs::file_size(tmp / "a/b/TK571_485.Log"), 0u);
}

TEST(LogWriteTest, TwoThreadsWritingAtOnceLoseNoLine) {
  TempDir tmp;
  const std::string log = tmp / "Debug/TK571_485.Log";
  constexpr int kLines = 300;
  auto line = [](char who, int i) {
    return std::string(1, who) + std::to_string(i) + ToGbk("：读通讯总次数= ") + std::to_string(i);
  };
  auto writer = [&](char who) {
    for (int i = 0; i < kLines; ++i) AppendLogText(log, line(who, i) + "\r\n");
  };
  std::thread a(writer, 'A');
  std::thread b(writer, 'B');
  a.join();
  b.join();

  std::multiset<std::string> written, expected;
  const std::string text = ReadFile(log);
  for (std::size_t pos = 0, end; pos < text.size(); pos = end + 2) {
    end = text.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos) << "a text was cut";
    written.insert(text.substr(pos, end - pos));
  }
  for (char who : {'A', 'B'}) {
    for (int i = 0; i < kLines; ++i) expected.insert(line(who, i));
  }
  EXPECT_EQ(written, expected);
}

TEST(LogWriteTest, AWriterOfAnotherProcessHoldingTheFileMakesTheTextDrop) {
  TempDir tmp;
  const std::string log = tmp / "Debug/TK571_485.Log";
  ASSERT_TRUE(AppendLogText(log, "before\r\n"));
  // A separate open file description locks like another process's writer.
  const int other = open(log.c_str(), O_WRONLY);
  ASSERT_EQ(flock(other, LOCK_EX), 0);
  EXPECT_FALSE(AppendLogText(log, "dropped\r\n"));
  close(other);
  EXPECT_TRUE(AppendLogText(log, "after\r\n"));
  EXPECT_EQ(ReadFile(log), "before\r\nafter\r\n");
}

// ---- Texts ----

TEST(LogTextTest, DateTimeLeavesTheTimeOutOnlyAtExactlyMidnight) {
  EXPECT_EQ(DateTimeText(LocalTime(2024, 3, 5, 0, 0, 0, 0)), "2024-03-05");
  EXPECT_EQ(DateTimeText(LocalTime(2024, 3, 5, 0, 0, 0, 1)), "2024-03-05 00:00:00");
  EXPECT_EQ(DateTimeText(LocalTime(2024, 3, 5, 0, 0, 1)), "2024-03-05 00:00:01");
  EXPECT_EQ(DateTimeText(LocalTime(2024, 3, 5, 23, 59, 59, 999)), "2024-03-05 23:59:59");
  FakeClock clock(LocalTime(2024, 12, 31));
  EXPECT_EQ(LogLine(ToGbk("：设备加载失败！")), ToGbk("2024-12-31：设备加载失败！\r\n"));
}

TEST(LogTextTest, FloatGeneralForm) {
  const struct {
    double value;
    const char* expected;
  } cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {12.0, "12"},
      {12.5, "12.5"},
      {-12.5, "-12.5"},
      {0.1 + 0.2, "0.3"},
      {1.0 / 3.0, "0.333333333333333"},
      {100.0 * 7.0 / 9.0, "77.7777777777778"},
      {123456789012345.0, "123456789012345"},
      {999999999999999.9, "1E15"},
      {1e20, "1E20"},
      {-1.5e20, "-1.5E20"},
      {0.00001, "0.00001"},
      {0.000001, "1E-6"},
      {1.5e-7, "1.5E-7"},
      {4294967295.0, "4294967295"},
      {std::nan(""), "NAN"},
      {-HUGE_VAL, "-INF"},
  };
  for (const auto& c : cases) EXPECT_EQ(FloatText(c.value), c.expected);
}

// ---- Archives ----

class ArchiveTest : public ::testing::Test {
 protected:
  std::string Log() const { return tmp_ / "Debug/TK571_485.Log"; }
  std::string Archive(const std::string& stamp) const {
    return tmp_ / ("Debug/TK571_485" + stamp + ".LOG");
  }
  TempDir tmp_;
};

TEST_F(ArchiveTest, Names) {
  const auto now = LocalTime(2024, 3, 1, 7, 8, 9);
  EXPECT_EQ(DailyArchiveName(Log(), now, 1), Archive("2024-02-29"));
  EXPECT_EQ(DailyArchiveName(Log(), now, 30), Archive("2024-01-31"));
  EXPECT_EQ(TimestampArchiveName(Log(), now), Archive("2024-03-01-07-08-09"));
  EXPECT_EQ(DailyArchiveName("./Debug/TK571_485.Log", LocalTime(2024, 1, 1, 12), 1),
            "./Debug/TK571_4852023-12-31.LOG");
}

// The live log's last line was written at `t`.
void SetWritten(const std::string& path, std::chrono::system_clock::time_point t) {
  fs::last_write_time(path, std::chrono::file_clock::from_sys(t));
}

TEST_F(ArchiveTest, LiveLogMovesToTheDayItWasWrittenOrAboveTheSizeLimitToATimestamp) {
  const auto now = LocalTime(2024, 3, 15, 10, 30, 5);
  const struct {
    uint64_t size;
    std::chrono::system_clock::time_point written;
    const char* existing;  // an archive there already; nullptr for none
    const char* moved_to;  // nullptr: the live log stays
  } cases[] = {
      {500001, LocalTime(2024, 3, 14, 12), "2024-03-14", "2024-03-15-10-30-05"},
      {500001, LocalTime(2024, 3, 15, 10, 30), nullptr, "2024-03-15-10-30-05"},
      {500000, LocalTime(2024, 3, 14, 12), "2024-03-14", nullptr},
      {500000, LocalTime(2024, 3, 14, 23, 59, 59), nullptr, "2024-03-14"},
      // Lines of a day long past go under that day, not under yesterday.
      {20, LocalTime(2024, 3, 9, 8), nullptr, "2024-03-09"},
      {20, LocalTime(2024, 3, 9, 8), "2024-03-14", "2024-03-09"},
      // A log holding only today's lines stays the live log, also on the
      // first start of a day on which yesterday's archive does not exist.
      {20, LocalTime(2024, 3, 15, 0, 0, 1), nullptr, nullptr},
      {20, LocalTime(2024, 3, 15, 10, 30, 5), nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " " + DateTimeText(c.written) +
                 (c.existing ? std::string(" with ") + c.existing : ""));
    fs::remove_all(tmp_.path() / "Debug");
    const std::string content(c.size, 'x');
    WriteFile(Log(), content);
    SetWritten(Log(), c.written);
    if (c.existing) WriteFile(Archive(c.existing), "old");
    MaintainLogFiles(Log(), now);
    if (c.moved_to) {
      EXPECT_EQ(ReadFile(Archive(c.moved_to)), content);
      EXPECT_FALSE(fs::exists(Log()));
    } else {
      EXPECT_EQ(fs::file_size(Log()), c.size);
    }
    if (c.existing) {
      EXPECT_EQ(ReadFile(Archive(c.existing)), "old");
    }
    EXPECT_EQ(fs::exists(Archive("2024-03-14")),
              c.existing || (c.moved_to && std::string(c.moved_to) == "2024-03-14"))
        << "no archive under a day the log does not hold";
  }
}

TEST_F(ArchiveTest, LaterRunsOfTheDayKeepTheLiveLog) {
  FakeClock clock(LocalTime(2024, 3, 15, 9));
  SetLogFileName(Log());
  WriteFile(Log(), "yesterday\r\n");
  SetWritten(Log(), LocalTime(2024, 3, 14, 18));
  MaintainLogFiles();
  EXPECT_TRUE(WriteLogText("today\r\n"));
  SetWritten(Log(), LocalTime(2024, 3, 15, 9));
  clock.Set(LocalTime(2024, 3, 15, 17));
  MaintainLogFiles();
  EXPECT_EQ(ReadFile(Log()), "today\r\n");
  EXPECT_EQ(ReadFile(Archive("2024-03-14")), "yesterday\r\n");
}

// A long run with the trace switch on: the size rule applies while the
// driver writes, looked at once a minute, so the file never grows much
// beyond the limit.
TEST_F(ArchiveTest, WhileWritingTheLiveLogIsArchivedOnceAMinuteAboveTheSizeLimit) {
  const struct {
    std::size_t grown_to;
    bool archived;
  } cases[] = {{500001, true}, {500000, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.grown_to);
    fs::remove_all(tmp_.path() / "Debug");
    FakeClock clock(LocalTime(2024, 3, 15, 10, 0, 0));
    SetLogFileName(Log());
    // "first", the bulk and "A" make the size the check sees.
    const std::string bulk(c.grown_to - 6, 'x');
    ASSERT_TRUE(WriteLogText("first"));
    ASSERT_TRUE(WriteLogText(bulk));
    clock.Advance(kLiveSizeCheckPeriodMs - 1);
    ASSERT_TRUE(WriteLogText("A"));
    EXPECT_EQ(fs::file_size(Log()), c.grown_to) << "not looked at again within the minute";
    clock.Advance(1);
    ASSERT_TRUE(WriteLogText("B"));
    const std::string stamped = Archive("2024-03-15-10-01-00");
    if (c.archived) {
      EXPECT_EQ(ReadFile(stamped), "first" + bulk + "A");
      EXPECT_EQ(ReadFile(Log()), "B") << "a fresh live log begins";
    } else {
      EXPECT_FALSE(fs::exists(stamped));
      EXPECT_EQ(fs::file_size(Log()), c.grown_to + 1);
    }
  }
}

TEST_F(ArchiveTest, ArchivesThirtyToHundredDaysOldArePurged) {
  const auto now = LocalTime(2024, 6, 30, 12);
  const std::pair<int, bool> days_kept[] = {{1, true},    {29, true},  {30, false}, {65, false},
                                            {100, false}, {101, true}, {365, true}};
  WriteFile(Log(), "live");
  for (auto [days, kept] : days_kept) WriteFile(DailyArchiveName(Log(), now, days), "a");
  const std::string stamped = TimestampArchiveName(Log(), LocalTime(2024, 4, 1, 1, 2, 3));
  WriteFile(stamped, "big");

  MaintainLogFiles(Log(), now);

  for (auto [days, kept] : days_kept) {
    EXPECT_EQ(fs::exists(DailyArchiveName(Log(), now, days)), kept) << days;
  }
  EXPECT_TRUE(fs::exists(stamped)) << "time-stamped archives are kept";
}

// ---- Exception line and per-object state ----

class RecordingSink final : public LogSink {
 public:
  explicit RecordingSink(bool errors) : errors_(errors) {}
  bool LogErrors() const override { return errors_; }
  void SetLogMsg(std::string_view text) override { texts.emplace_back(text); }
  std::vector<std::string> texts;

 private:
  bool errors_;
};

TEST(GuardedTest, ExceptionLineOnlyUnderTheErrorSwitch) {
  FakeClock clock(LocalTime(2024, 3, 15, 10, 30, 5));
  for (bool errors : {true, false}) {
    RecordingSink sink(errors);
    EXPECT_FALSE(Guarded(sink, "TBaseDLLObject", "IniTagList", false,
                         []() -> bool { throw std::runtime_error("boom"); }));
    EXPECT_EQ(Guarded(sink, "TDLLObject", "GetResult", -1, []() -> int { throw 42; }), -1);
    Guarded(sink, "TBaseDLLObject", "Stop", [] { throw std::bad_alloc(); });
    EXPECT_EQ(Guarded(sink, "TBaseDLLObject", "GetTagTypeStr", std::string(),
                      [] { return std::string("READ"); }),
              "READ");
    const std::vector<std::string> expected = {
        ToGbk("2024-03-15 10:30:05：TBaseDLLObject.IniTagList异常！\r\n"),
        ToGbk("2024-03-15 10:30:05：TDLLObject.GetResult异常！\r\n"),
        ToGbk("2024-03-15 10:30:05：TBaseDLLObject.Stop异常！\r\n"),
    };
    EXPECT_EQ(sink.texts, errors ? expected : std::vector<std::string>{});
  }
}

TEST(GuardedTest, ExceptionLineReachesTheFile) {
  TempDir tmp;
  FakeClock clock(LocalTime(2024, 3, 15));
  SetLogFileName(tmp / "Debug/TK571_485.Log");
  struct FileSink final : LogSink {
    bool LogErrors() const override { return true; }
    void SetLogMsg(std::string_view text) override { WriteLogText(text); }
  } sink;
  Guarded(sink, "TBaseDLLObject", "WriteCommEvent", [] { throw std::runtime_error("x"); });
  EXPECT_EQ(ReadFile(tmp / "Debug/TK571_485.Log"),
            ToGbk("2024-03-15：TBaseDLLObject.WriteCommEvent异常！\r\n"));
}

TEST(RunLogStateTest, EnLogNeedsTheCreationLinesAndTraceLinesRunOut) {
  RunLog log;
  EXPECT_TRUE(log.EnLog()) << "on at creation";
  EXPECT_FALSE(log.LogErrors() || log.LogTrace() || log.DebugEnabled());
  log.SetEnLog(true);
  EXPECT_FALSE(log.EnLog()) << "creation lines not written";
  log.SetSysInfoLogged(true);
  log.SetEnLog(true);
  EXPECT_TRUE(log.EnLog());

  int granted = 0;
  for (int i = 0; i < 1500; ++i) granted += log.TakeTraceLine() ? 1 : 0;
  EXPECT_EQ(granted, 1000);
}

}  // namespace
}  // namespace tk571
