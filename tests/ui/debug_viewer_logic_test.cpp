// The debug log viewer's switches and its reading and writing of the run log.
#include "ui/debug_viewer_logic.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/gbk.h"

namespace tk571::ui {
namespace {

class DebugViewerLogicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tk571_viewer_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    TDevicePDB block;
    block.FillDefaults();
    host_.resize(kPdbSize);
    block.Store(host_.data());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void SetSwitches(uint8_t debug, uint8_t errors, uint8_t trace) {
    TDevicePDB block = TDevicePDB::Load(host_.data());
    block.SetDebugEnabled(debug);
    block.SetLogErrors(errors);
    block.SetLogTrace(trace);
    block.Store(host_.data());
  }
  std::string LogPath() const { return (dir_ / "TK571_485.Log").string(); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::filesystem::path dir_;
  std::vector<uint8_t> host_;
};

TEST_F(DebugViewerLogicTest, UncheckingTheDebugSwitchClearsAllThreeInTheSavedBlock) {
  SetSwitches(1, 1, 1);
  WizardSession session(host_.data());
  DebugViewerLogic viewer(session, LogPath());
  viewer.Create();
  EXPECT_TRUE(viewer.view().errors_checked);
  EXPECT_TRUE(viewer.view().trace_checked);
  viewer.SetLines({"old"});
  EXPECT_FALSE(viewer.SetDebug(false, true));
  EXPECT_FALSE(viewer.view().controls_enabled);
  EXPECT_FALSE(viewer.view().errors_checked);
  EXPECT_FALSE(viewer.view().trace_checked);
  EXPECT_TRUE(viewer.view().lines.empty());
  viewer.Finish();
  EXPECT_TRUE(session.Modified());
  const TDevicePDB saved = TDevicePDB::Load(host_.data());
  EXPECT_EQ(saved.DebugEnabled(), 0);
  EXPECT_EQ(saved.LogErrors(), 0);
  EXPECT_EQ(saved.LogTrace(), 0);
}

TEST_F(DebugViewerLogicTest, CreationFollowsTheSwitchesOfTheWorkingCopy) {
  const struct {
    uint8_t debug, errors, trace;
    bool enabled, errors_checked, trace_checked, loading;
  } cases[] = {
      {0, 0, 0, false, false, false, false},
      {0, 1, 1, false, false, false, false},  // output switches need the debug switch
      {1, 0, 1, true, false, true, true},
      {1, 1, 0, true, true, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.debug) << int(c.errors) << int(c.trace));
    SetSwitches(c.debug, c.errors, c.trace);
    WizardSession session(host_.data());
    DebugViewerLogic viewer(session, LogPath());
    viewer.Create();
    EXPECT_EQ(viewer.view().controls_enabled, c.enabled);
    EXPECT_EQ(viewer.view().errors_checked, c.errors_checked);
    EXPECT_EQ(viewer.view().trace_checked, c.trace_checked);
    EXPECT_EQ(viewer.view().load_pending, c.loading);
    EXPECT_EQ(viewer.view().load_bar_visible, c.loading);
    EXPECT_EQ(session.Work().LogErrors(), c.errors_checked ? 1 : 0);
    // Nothing is written back before 关闭窗口.
    EXPECT_EQ(TDevicePDB::Load(host_.data()).LogErrors(), c.errors);
  }
}

TEST_F(DebugViewerLogicTest, OpeningWithTheSwitchOnLoadsTheFileWithoutTheWarning) {
  SetSwitches(1, 0, 0);
  const std::string gbk = platform::ToGbk("2024-05-01 08:00:00：通讯正常!");
  std::ofstream(LogPath(), std::ios::binary) << "first\r\n" << gbk << "\r\nlast";
  WizardSession session(host_.data());
  DebugViewerLogic viewer(session, LogPath());
  viewer.Create();
  EXPECT_EQ(platform::FromGbk(viewer.view().status), "正在调入记录文件...");
  viewer.LoadTick();
  EXPECT_EQ(viewer.view().lines, (std::vector<std::string>{"first", gbk, "last"}));
  EXPECT_FALSE(viewer.view().load_pending);
  EXPECT_FALSE(viewer.view().load_bar_visible);
  EXPECT_EQ(viewer.view().status, DebugViewerLogic::DefaultStatus());
  // Switching off and on again by hand warns once per window.
  viewer.SetDebug(false, true);
  EXPECT_TRUE(viewer.SetDebug(true, true));
  viewer.SetDebug(false, true);
  EXPECT_FALSE(viewer.SetDebug(true, true));
}

TEST_F(DebugViewerLogicTest, AMissingLogLeavesTheMemoEmpty) {
  WizardSession session(host_.data());
  DebugViewerLogic viewer(session, (dir_ / "none.Log").string());
  viewer.Create();
  EXPECT_TRUE(viewer.SetDebug(true, true));
  viewer.LoadTick();
  EXPECT_TRUE(viewer.view().lines.empty());
}

TEST_F(DebugViewerLogicTest, SavingWritesGbkLinesWithCrLf) {
  WizardSession session(host_.data());
  DebugViewerLogic viewer(session, LogPath());
  std::ofstream(LogPath(), std::ios::binary) << std::string(1000, 'x');
  const std::string gbk = platform::ToGbk("串口被其他应用程序占用!");
  viewer.SetLines({"a", gbk, ""});
  ASSERT_TRUE(viewer.SaveChanges());
  EXPECT_EQ(Read(LogPath()), "a\r\n" + gbk + "\r\n\r\n");
  const std::string other = (dir_ / "copy.Log").string();
  ASSERT_TRUE(viewer.SaveAs(other));
  EXPECT_EQ(Read(other), Read(LogPath()));
  EXPECT_FALSE(viewer.SaveAs((dir_ / "no" / "such" / "dir.Log").string()));
}

TEST(DebugViewerTextTest, LoadBarWrapsToTheMiddleAndLinesSplitOnBothLineEnds) {
  std::vector<uint8_t> host(kPdbSize);
  WizardSession session(host.data());
  DebugViewerLogic viewer(session, "unused");
  std::vector<int> seen;
  for (int i = 0; i < 12; ++i) {
    viewer.LoadBarTick();
    seen.push_back(viewer.view().load_bar);
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 5, 6, 7}));
  EXPECT_EQ(SplitLogLines("a\r\nb\nc\r\n"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(SplitLogLines(""), std::vector<std::string>{});
  EXPECT_EQ(SplitLogLines("\r\n\r\n"), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(JoinLogLines({"a", "b"}), "a\r\nb\r\n");
}

}  // namespace
}  // namespace tk571::ui
