// The run log as files on disk: where it lives, how texts land in it, how it
// is archived and purged, and the texts every log line is built from.
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

struct PathCase {
  const char* name;
  const char* host_program;  // relative to the scratch directory; "" for none
  const char* tesmark;       // contents of host/Tesmark.ini, nullptr for no file
  const char* expected;      // "@" stands for the scratch directory
};

class LogPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(LogPathTest, FollowsTheInstallationFile) {
  const PathCase& c = GetParam();
  TempDir tmp;
  // The working directory is scratch/work, so "../" is the scratch directory,
  // which holds no installation file.
  ScopedCwd cwd(tmp.path() / "work");
  if (c.tesmark) WriteFile(tmp / "host/Tesmark.ini", c.tesmark);
  std::string host_program = c.host_program;
  const std::size_t at = host_program.find('@');
  if (at != std::string::npos) host_program.replace(at, 1, tmp.path().string());
  std::string expected = c.expected;
  const std::size_t e = expected.find('@');
  if (e != std::string::npos) expected.replace(e, 1, tmp.path().string());

  EXPECT_EQ(ComputeLogFileName(host_program), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Installations, LogPathTest,
    ::testing::Values(PathCase{"NoHostPath", "", nullptr, "./Debug/TK571_485.Log"},
                      PathCase{"HostWithoutInstallationFile", "@/host/Vanta.exe", nullptr,
                               "./Debug/TK571_485.Log"},
                      PathCase{"AbsoluteProject", "@/host/Vanta.exe",
                               "[WORKING]\r\nDefaultPROJECT=/plants/Line1/Line1.prj\r\n",
                               "/plants/Line1/Debug/TK571_485.Log"},
                      PathCase{"WindowsProject", "@/host/Vanta.exe",
                               "[WORKING]\r\nDefaultPROJECT=D:\\Plants\\Line1\\Line1.prj\r\n",
                               "D:/Plants/Line1/Debug/TK571_485.Log"},
                      PathCase{"WindowsHostPath", "@\\host\\Vanta.exe",
                               "[WORKING]\r\nDefaultPROJECT=/p/x.prj\r\n",
                               "/p/Debug/TK571_485.Log"},
                      PathCase{"BlanksAroundHostPath", "  @/host/Vanta.exe  ",
                               "[WORKING]\nDefaultPROJECT=/p/x.prj\n", "/p/Debug/TK571_485.Log"},
                      PathCase{"KeyMissingMeansCurrentDirectory", "@/host/Vanta.exe",
                               "[WORKING]\r\n", "./Debug/TK571_485.Log"},
                      PathCase{"ProjectWithoutDirectory", "@/host/Vanta.exe",
                               "[WORKING]\r\nDefaultPROJECT=Line1.prj\r\n", "Debug/TK571_485.Log"},
                      PathCase{"OtherSectionIgnored", "@/host/Vanta.exe",
                               "[OTHER]\r\nDefaultPROJECT=/wrong/x.prj\r\n",
                               "./Debug/TK571_485.Log"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LogPathTest, ParentDirectoryInstallationIsUsedWhenTheHostHasNone) {
  TempDir tmp;
  ScopedCwd cwd(tmp.path() / "work");
  WriteFile(tmp / "Tesmark.ini", "[WORKING]\r\nDefaultPROJECT=/from/parent/p.prj\r\n");
  EXPECT_EQ(ComputeLogFileName(tmp / "host/Vanta.exe"), "/from/parent/Debug/TK571_485.Log");
}

TEST(LogPathTest, ProcessPathFollowsTheEnvironmentAfterRefresh) {
  TempDir tmp;
  ScopedCwd cwd(tmp.path() / "work");
  WriteFile(tmp / "host/Tesmark.ini", "[WORKING]\nDefaultPROJECT=" + tmp.dir() + "proj/p.prj\n");
  {
    ScopedEnv env("KELDA_PATH", tmp / "host/Vanta.exe");
    RefreshLogFileName();
    EXPECT_EQ(LogFileName(), tmp.dir() + "proj/Debug/TK571_485.Log");
  }
  ScopedEnv env("KELDA_PATH", std::nullopt);
  RefreshLogFileName();
  EXPECT_EQ(LogFileName(), "./Debug/TK571_485.Log");
}

TEST(LogPathTest, FallbackDirectoryIsCreatedByTheFirstWrite) {
  TempDir tmp;
  ScopedCwd cwd(tmp.path() / "work");
  SetLogFileName(ComputeLogFileName(""));
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
  EXPECT_TRUE(AppendLogText(log, ""));
  EXPECT_EQ(ReadFile(log), first + second);
}

TEST(LogWriteTest, OpenLogStreamCreatesDirectoryAndEmptyFile) {
  TempDir tmp;
  const std::string log = tmp / "a/b/TK571_485.Log";
  EXPECT_TRUE(OpenLogStream(log));
  EXPECT_TRUE(fs::is_regular_file(log));
  EXPECT_EQ(fs::file_size(log), 0u);
  EXPECT_FALSE(OpenLogStream("TK571_485.Log")) << "a path without directory part";
}

TEST(LogWriteTest, UnwritablePlacesDropTheTextQuietly) {
  TempDir tmp;
  WriteFile(tmp / "plain", "x");
  fs::create_directories(tmp.path() / "adir.Log");
  const std::vector<std::string> bad = {
      tmp / "plain/Debug/TK571_485.Log",  // a file where a directory must be
      tmp / "adir.Log",                   // a directory where the file must be
      "",
  };
  for (const std::string& path : bad) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(OpenLogStream(path));
    EXPECT_FALSE(AppendLogText(path, "lost\r\n"));
    MaintainLogFiles(path, LocalTime(2024, 3, 15, 10));
  }
  EXPECT_EQ(ReadFile(tmp / "plain"), "x");
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

  std::multiset<std::string> written;
  const std::string text = ReadFile(log);
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t end = text.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos) << "a text was cut";
    written.insert(text.substr(pos, end - pos));
    pos = end + 2;
  }
  std::multiset<std::string> expected;
  for (char who : {'A', 'B'}) {
    for (int i = 0; i < kLines; ++i) expected.insert(line(who, i));
  }
  EXPECT_EQ(written, expected);
}

TEST(LogWriteTest, AWriterOfAnotherProcessHoldingTheFileMakesTheTextDrop) {
  TempDir tmp;
  const std::string log = tmp / "Debug/TK571_485.Log";
  ASSERT_TRUE(AppendLogText(log, "before\r\n"));
  // A separate open file description behaves like another process's writer.
  const int other = open(log.c_str(), O_WRONLY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX), 0);
  EXPECT_FALSE(AppendLogText(log, "dropped\r\n"));
  close(other);
  EXPECT_TRUE(AppendLogText(log, "after\r\n"));
  EXPECT_EQ(ReadFile(log), "before\r\nafter\r\n");
}

// ---- Texts ----

struct DateCase {
  int h, mi, s, ms;
  const char* expected;
};

TEST(DateTimeTextTest, TimeIsLeftOutOnlyAtExactlyMidnight) {
  const DateCase cases[] = {
      {0, 0, 0, 0, "2024-03-05"},
      {0, 0, 0, 1, "2024-03-05 00:00:00"},
      {0, 0, 1, 0, "2024-03-05 00:00:01"},
      {9, 5, 7, 0, "2024-03-05 09:05:07"},
      {23, 59, 59, 999, "2024-03-05 23:59:59"},
  };
  for (const DateCase& c : cases) {
    EXPECT_EQ(DateTimeText(LocalTime(2024, 3, 5, c.h, c.mi, c.s, c.ms)), c.expected);
  }
}

TEST(DateTimeTextTest, LogLineUsesTheDriverClock) {
  FakeClock clock(LocalTime(2024, 12, 31, 0, 0, 0));
  EXPECT_EQ(LogLine(ToGbk("：设备加载失败！")), ToGbk("2024-12-31：设备加载失败！\r\n"));
  clock.Set(LocalTime(2025, 1, 1, 8, 0, 30));
  EXPECT_EQ(DateTimeText(), "2025-01-01 08:00:30");
}

TEST(FloatTextTest, GeneralForm) {
  const struct {
    double value;
    const char* expected;
  } cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {12.0, "12"},
      {12.5, "12.5"},
      {-12.5, "-12.5"},
      {-3.0, "-3"},
      {0.1 + 0.2, "0.3"},
      {1.0 / 3.0, "0.333333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {100.0 * 7.0 / 9.0, "77.7777777777778"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E15"},
      {1e20, "1E20"},
      {-1.5e20, "-1.5E20"},
      {0.00001, "0.00001"},
      {0.000015, "0.000015"},
      {0.000001, "1E-6"},
      {1.5e-7, "1.5E-7"},
      {999999999999999.9, "1E15"},
      {4294967295.0, "4294967295"},
      {std::nan(""), "NAN"},
      {HUGE_VAL, "INF"},
      {-HUGE_VAL, "-INF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FloatText(c.value), c.expected) << c.expected;
  }
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
  EXPECT_EQ(DailyArchiveName("./Debug/TK571_485.Log", LocalTime(2024, 1, 1, 12), 1),
            "./Debug/TK571_4852023-12-31.LOG");
  EXPECT_EQ(TimestampArchiveName(Log(), now), Archive("2024-03-01-07-08-09"));
  EXPECT_EQ(ArchiveStem("./Debug/TK571_485"), "./Debug/TK571_485");
}

struct SizeCase {
  uint64_t size;
  bool yesterday_exists;
  const char* moved_to;  // nullptr: the live log stays
};

TEST_F(ArchiveTest, LiveLogMovesToYesterdayOrAboveTheSizeLimitToATimestamp) {
  const auto now = LocalTime(2024, 3, 15, 10, 30, 5);
  const SizeCase cases[] = {
      {500001, true, "2024-03-15-10-30-05"},
      {500001, false, "2024-03-15-10-30-05"},
      {500000, true, nullptr},
      {500000, false, "2024-03-14"},
      {10, false, "2024-03-14"},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + (c.yesterday_exists ? " with" : " without") +
                 " yesterday's archive");
    fs::remove_all(tmp_.path() / "Debug");
    const std::string content(c.size, 'x');
    WriteFile(Log(), content);
    if (c.yesterday_exists) WriteFile(Archive("2024-03-14"), "old");
    MaintainLogFiles(Log(), now);
    if (c.moved_to) {
      EXPECT_EQ(ReadFile(Archive(c.moved_to)), content);
      EXPECT_FALSE(fs::exists(Log()));
    } else {
      EXPECT_EQ(fs::file_size(Log()), c.size);
    }
    if (c.yesterday_exists) {
      EXPECT_EQ(ReadFile(Archive("2024-03-14")), "old");
    }
  }
}

TEST_F(ArchiveTest, SecondRunOfTheDayKeepsTheLiveLogAndNextWriteStartsANewOne) {
  FakeClock clock(LocalTime(2024, 3, 15, 9));
  SetLogFileName(Log());
  WriteFile(Log(), "yesterday's lines\r\n");
  MaintainLogFiles();
  EXPECT_EQ(ReadFile(Archive("2024-03-14")), "yesterday's lines\r\n");
  EXPECT_TRUE(WriteLogText("today\r\n"));
  clock.Set(LocalTime(2024, 3, 15, 17));
  MaintainLogFiles();
  EXPECT_EQ(ReadFile(Log()), "today\r\n");
  EXPECT_EQ(ReadFile(Archive("2024-03-14")), "yesterday's lines\r\n");
}

TEST_F(ArchiveTest, MissingLiveLogIsCreatedEmpty) {
  WriteFile(Archive("2024-03-14"), "old");
  MaintainLogFiles(Log(), LocalTime(2024, 3, 15, 10));
  ASSERT_TRUE(fs::exists(Log()));
  EXPECT_EQ(fs::file_size(Log()), 0u);
}

TEST_F(ArchiveTest, ArchivesThirtyToHundredDaysOldArePurged) {
  const auto now = LocalTime(2024, 6, 30, 12);
  const struct {
    int days_back;
    bool kept;
  } cases[] = {{1, true},   {29, true},   {30, false}, {31, false},
               {65, false}, {100, false}, {101, true}, {365, true}};
  WriteFile(Log(), "live");
  for (const auto& c : cases) WriteFile(DailyArchiveName(Log(), now, c.days_back), "a");
  const std::string stamped = TimestampArchiveName(Log(), LocalTime(2024, 4, 1, 1, 2, 3));
  WriteFile(stamped, "big");
  const std::string other = tmp_ / "Debug/TK571_4852024-05-01.txt";
  WriteFile(other, "not an archive");

  MaintainLogFiles(Log(), now);

  for (const auto& c : cases) {
    EXPECT_EQ(fs::exists(DailyArchiveName(Log(), now, c.days_back)), c.kept) << c.days_back;
  }
  EXPECT_TRUE(fs::exists(stamped)) << "time-stamped archives are kept";
  EXPECT_TRUE(fs::exists(other));
}

// ---- Per-object state and the exception line ----

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
  const std::string expected = ToGbk("2024-03-15 10:30:05：TBaseDLLObject.IniTagList异常！\r\n");
  for (bool errors : {true, false}) {
    SCOPED_TRACE(errors);
    RecordingSink sink(errors);
    EXPECT_FALSE(Guarded(sink, "TBaseDLLObject", "IniTagList", false,
                         [&]() -> bool { throw std::runtime_error("boom"); }));
    EXPECT_EQ(Guarded(sink, "TDLLObject", "GetResult", -1, []() -> int { throw 42; }), -1);
    Guarded(sink, "TBaseDLLObject", "Stop", [] { throw std::bad_alloc(); });
    if (errors) {
      ASSERT_EQ(sink.texts.size(), 3u);
      EXPECT_EQ(sink.texts[0], expected);
      EXPECT_EQ(sink.texts[1], ToGbk("2024-03-15 10:30:05：TDLLObject.GetResult异常！\r\n"));
      EXPECT_EQ(sink.texts[2], ToGbk("2024-03-15 10:30:05：TBaseDLLObject.Stop异常！\r\n"));
    } else {
      EXPECT_TRUE(sink.texts.empty());
    }
  }
}

TEST(GuardedTest, ResultPassesThroughWithoutALine) {
  RecordingSink sink(true);
  EXPECT_EQ(Guarded(sink, "TBaseDLLObject", "GetTagTypeStr", std::string(),
                    [] { return std::string("READ"); }),
            "READ");
  int runs = 0;
  Guarded(sink, "TBaseDLLObject", "Refresh", [&] { ++runs; });
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(sink.texts.empty());
}

TEST(GuardedTest, ExceptionLineReachesTheFile) {
  TempDir tmp;
  FakeClock clock(LocalTime(2024, 3, 15, 0, 0, 0));
  SetLogFileName(tmp / "Debug/TK571_485.Log");
  class FileSink final : public LogSink {
   public:
    bool LogErrors() const override { return true; }
    void SetLogMsg(std::string_view text) override { WriteLogText(text); }
  } sink;
  Guarded(sink, "TBaseDLLObject", "WriteCommEvent", [] { throw std::runtime_error("x"); });
  EXPECT_EQ(ReadFile(tmp / "Debug/TK571_485.Log"),
            ToGbk("2024-03-15：TBaseDLLObject.WriteCommEvent异常！\r\n"));
}

TEST(RunLogStateTest, EnLogNeedsTheCreationLines) {
  RunLog log;
  EXPECT_TRUE(log.EnLog()) << "on at creation";
  EXPECT_FALSE(log.LogErrors());
  EXPECT_FALSE(log.LogTrace());
  EXPECT_FALSE(log.DebugEnabled());
  log.SetEnLog(true);
  EXPECT_FALSE(log.EnLog()) << "creation lines not written";
  log.AssignEnLog(true);
  EXPECT_TRUE(log.EnLog());
  log.SetSysInfoLogged(true);
  log.SetEnLog(false);
  EXPECT_FALSE(log.EnLog());
  log.SetEnLog(true);
  EXPECT_TRUE(log.EnLog());
}

TEST(RunLogStateTest, TraceAllowanceRunsOutAfterAThousandLines) {
  RunLog log;
  int granted = 0;
  for (int i = 0; i < 1500; ++i) granted += log.TakeTraceLine() ? 1 : 0;
  EXPECT_EQ(granted, 1000);
  EXPECT_EQ(log.TraceAllowance(), 0);
}

}  // namespace
}  // namespace tk571
