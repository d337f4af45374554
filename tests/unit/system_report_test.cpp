// The system lines of the creation and stop reports.
#include "engine/system_report.h"

#include <gtest/gtest.h>

#include "log/log_fixtures.h"
#include "platform/gbk.h"

namespace tk571 {
namespace {

using namespace tk571::testing;
using platform::ToGbk;

constexpr uint64_t kMb = 1048576;
const char kD[] = "2024-03-15 10:30:05";

TEST(SystemReportTest, MemoryLinesInWholeMegabytes) {
  platform::MemoryStatus m;
  m.load_percent = 37;
  m.total_physical = 16 * 1024 * kMb + kMb - 1;  // the fraction is dropped
  m.available_physical = 5 * kMb;
  m.total_virtual = uint64_t{1} << 47;
  m.available_virtual = 0;
  const std::vector<std::string> lines = MemoryLines(kD, m);
  const std::vector<std::string> expected = {
      ToGbk("2024-03-15 10:30:05：已使用内存 = 37 %\r\n"),
      ToGbk("2024-03-15 10:30:05：总物理内存 = 16384 MB\r\n"),
      ToGbk("2024-03-15 10:30:05：可用物理内存 = 5 MB\r\n"),
      ToGbk("2024-03-15 10:30:05：总虚拟内存 = 134217728 MB\r\n"),
      ToGbk("2024-03-15 10:30:05：可用虚拟内存 = 0 MB\r\n"),
  };
  EXPECT_EQ(lines, expected);
}

TEST(SystemReportTest, CreationAndStopLines) {
  TfileInfo host = DefaultFileInfo();
  host[TfileInfo::kFileDescription] = ToGbk("Vanta 组态软件");
  host[TfileInfo::kFileVersion] = "6.5.0.12";
  const TfileInfo driver = BuildDriverModuleInfo("../");
  const std::vector<std::string> lines =
      CreationLines(kD, std::string("Intel(R) Xeon(R) CPU"), "Intel", {}, host, driver);
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], ToGbk("2024-03-15 10:30:05：[Intel(R) Xeon(R) CPU]\r\n"));
  EXPECT_EQ(lines[1], ToGbk("2024-03-15 10:30:05：[Intel] \r\n"));
  EXPECT_EQ(lines[2], ToGbk("2024-03-15 10:30:05：已使用内存 = 0 %\r\n"));
  EXPECT_EQ(lines[7], ToGbk("2024-03-15 10:30:05：启动Vanta 组态软件[文件版本6.5.0.12]  ...\r\n"));
  EXPECT_EQ(lines[8], ToGbk("2024-03-15 10:30:05：启动驱动程序TK571配料控制器(RS485)  ...\r\n"));
  EXPECT_EQ(lines[9], ToGbk(std::string("2024-03-15 10:30:05：驱动程序版本") + TK571_VERSION_TEXT +
                            "  ...\r\n"));

  const std::vector<std::string> without =
      CreationLines(kD, std::nullopt, "aarch64", {}, host, driver);
  ASSERT_EQ(without.size(), 9u) << "no processor line without a description";
  EXPECT_EQ(without[0], ToGbk("2024-03-15 10:30:05：[aarch64] \r\n"));

  const std::vector<std::string> stop = StopClosingLines(kD, host, driver);
  ASSERT_EQ(stop.size(), 3u);
  EXPECT_EQ(stop[0], ToGbk("2024-03-15 10:30:05：启动Vanta 组态软件[文件版本6.5.0.12]  ...\r\n"));
  EXPECT_EQ(stop[1], ToGbk(std::string("2024-03-15 10:30:05：TK571配料控制器(RS485)驱动程序版本") +
                           TK571_VERSION_TEXT + "退出运行！\r\n"));
  EXPECT_EQ(stop[2], std::string(60, '-') + "\r\n");
}

TEST(SystemReportTest, ArchitectureNames) {
  const struct {
    const char* machine;
    const char* name;
  } cases[] = {{"x86_64", "Intel"}, {"i686", "Intel"},  {"i386", "Intel"},     {"mips64", "MIPS"},
               {"alpha", "Aplha"},  {"ppc64le", "PPC"}, {"aarch64", "aarch64"}};
  for (const auto& c : cases) EXPECT_EQ(platform::ArchitectureNameOf(c.machine), c.name);
}

TEST(SystemReportTest, ProcessorDescriptionFromCpuinfo) {
  const struct {
    const char* name;
    const char* cpuinfo;
    const char* machine;
    const char* expected;
  } cases[] = {
      {"model name", "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Core(TM)\n",
       "x86_64", "Intel(R) Core(TM)"},
      {"x86 without model name",
       "vendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 158\nstepping\t: 10\n", "x86_64",
       "GenuineIntelx86 Family 6 Model 158 Stepping 10"},
      {"arm", "CPU implementer\t: 0x41\nCPU architecture: 8\nCPU part\t: 0xd08\n", "aarch64",
       "0x41aarch64 Family 8 Model 0xd08"},
      {"nothing known", "processor : 0\n", "riscv64", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::ProcessorDescriptionFromCpuinfo(c.cpuinfo, c.machine), c.expected)
        << c.name;
  }
}

class CollectingSink final : public LogSink {
 public:
  bool LogErrors() const override { return false; }
  void SetLogMsg(std::string_view text) override { texts.emplace_back(text); }
  std::vector<std::string> texts;
};

TEST(SystemReportTest, WritersUseTheSinkAndTheDriverClock) {
  FakeClock clock(LocalTime(2024, 3, 15, 10, 30, 5));
  CollectingSink sink;
  EXPECT_TRUE(WriteCreationLines(sink));
  ASSERT_GE(sink.texts.size(), 9u);
  for (const std::string& line : sink.texts) {
    EXPECT_EQ(line.rfind(kD, 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  }
  const platform::MemoryStatus m = platform::ReadMemoryStatus();
  EXPECT_GT(m.total_physical, 0u);
  EXPECT_LE(m.available_physical, m.total_physical);
  EXPECT_LE(m.available_virtual, m.total_virtual);
}

}  // namespace
}  // namespace tk571
