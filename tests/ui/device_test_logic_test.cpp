// The device test's decisions, against a fake driver and a clock the test
// drives.
#include "ui/device_test_logic.h"

#include <gtest/gtest.h>

#include <set>

#include "fake_test_driver.h"
#include "platform/gbk.h"
#include "support/fake_clock.h"

namespace tk571::ui {
namespace {

using testing::FakeDriver;
using tk571::testing::FakeClock;

class DeviceTestLogicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    block_.FillDefaults();
    block_.SetTypeCode(0, kEmptyTypeCode);
    block_.SetTypeCode(1, 0);
    block_.SetTypeName(1, "TK571");
  }
  FakeClock clock_;
  FakeDriver driver_;
  TDevicePDB block_;
};

std::string U8(const std::string& gbk) {
  return platform::FromGbk(gbk);
}

TEST(DeviceTestTextTest, ControlBytesAreShownByName) {
  const struct {
    std::string bytes;
    std::string shown;
  } cases[] = {
      {"", ""},
      {"READ1:1\r", "READ1:1<CR>"},
      {"\x02"
       "01RW\x03\r\n",
       "<STX>01RW<ETX><CR><LF>"},
      {std::string("\0\x01", 2), "<NUL><SOH>"},
      {"\x1b\x1f \x7f", "<ESC><US> \x7f"},
      // Both bytes of a double-byte character stay as they are.
      {platform::ToGbk("通讯正常!\r"), platform::ToGbk("通讯正常!<CR>")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(ShownBytes(c.bytes), c.shown);
  }
  // Every byte below 32 has a name of its own.
  std::set<std::string> names;
  for (int byte = 0; byte < 32; ++byte) {
    const std::string shown = ShownBytes(std::string(1, static_cast<char>(byte)));
    EXPECT_EQ(shown.front(), '<') << byte;
    EXPECT_EQ(shown.back(), '>') << byte;
    EXPECT_GT(shown.size(), 3u) << byte;
    names.insert(shown);
  }
  EXPECT_EQ(names.size(), 32u);
}

TEST(DeviceTestTextTest, MessagesAreShownOnOneLine) {
  const struct {
    std::string message;
    std::string shown;
  } cases[] = {
      {"", ""},
      {"\r\n", ""},
      {"ok\r\n", "ok"},
      {"a\r\nb", "a b"},
      {"a\rb", "a b"},
      {"a\nb", "a b"},
      {"a\n\rb", "a  b"},
      {"a\r\n\r\nb", "a  b"},
      {"  a b  \r\n", "a b"},
      {platform::ToGbk("通讯正常!\r\n串口打开"), platform::ToGbk("通讯正常! 串口打开")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(OneLine(c.message), c.shown);
  }
}

TEST_F(DeviceTestLogicTest, TheTestStartsWithReadOfTheFirstConfiguredDevice) {
  const struct {
    const char* name;
    std::vector<int> used;
    int stale;  // an in-use entry whose name the driver no longer knows, or -1
    const char* address;
  } cases[] = {
      {"defaults", {0}, -1, "READ0:1"},
      {"device 1", {1, 4}, -1, "READ1:1"},
      {"stale entry skipped", {3}, 2, "READ3:1"},
      {"no device", {}, -1, "READ0:1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TDevicePDB block;
    block.FillDefaults();
    block.SetTypeCode(0, kEmptyTypeCode);
    for (int i : c.used) {
      block.SetTypeCode(i, 0);
      block.SetTypeName(i, "TK571");
    }
    if (c.stale >= 0) {
      block.SetTypeCode(c.stale, 0);
      block.SetTypeName(c.stale, "OLD");
    }
    FakeDriver driver;
    DeviceTestSession session(driver);
    ASSERT_TRUE(session.Begin(block));
    EXPECT_STREQ(session.test_tag().Address, c.address);
    EXPECT_STREQ(session.test_tag().Name, "AI");
    EXPECT_EQ(session.test_tag().DataKind, 0);
    EXPECT_EQ(session.test_tag().ScanTime, 500u);
    EXPECT_EQ(session.view().address, c.address);
    EXPECT_EQ(driver.calls, std::vector<std::string>{std::string("start ") + c.address});
  }
}

TEST_F(DeviceTestLogicTest, SilentProbeStepsUntilTheFirstAnswerTwoHundredMsApart) {
  const struct {
    int answer_from_step;
    bool answered;
    int steps;
  } cases[] = {{1, true, 1}, {3, true, 3}, {6, true, 6}, {7, false, 6}, {0, false, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer_from_step);
    FakeDriver driver;
    driver.answer_from_step = c.answer_from_step;
    DeviceTestSession session(driver);
    ASSERT_TRUE(session.Begin(block_));
    const uint32_t start = clock_.TickMs();
    EXPECT_EQ(session.ProbeSilently(), c.answered);
    EXPECT_EQ(driver.object->steps, c.steps);
    // Each step waits until more than 200 ms have passed since the last.
    EXPECT_EQ(clock_.TickMs() - start, static_cast<uint32_t>(c.steps) * 201u);
  }
}

TEST_F(DeviceTestLogicTest, ATestThatCannotStartEndsFalseAndOnlyAnEmptyTagListSaysSo) {
  driver_.start_ok = false;
  DeviceTestSession refused(driver_);
  EXPECT_FALSE(refused.Begin(block_));
  EXPECT_TRUE(refused.TakeAlerts().empty());

  FakeDriver no_tags;
  no_tags.with_tags = false;
  DeviceTestSession empty(no_tags);
  EXPECT_FALSE(empty.Begin(block_));
  EXPECT_EQ(empty.TakeAlerts(), std::vector<std::string>{DeviceTestSession::UnsupportedText()});
}

TEST_F(DeviceTestLogicTest, TimerTickShowsTagsCommandsAndMessages) {
  DeviceTestSession session(driver_);
  ASSERT_TRUE(session.Begin(block_));
  auto& object = *driver_.object;
  object.tags = {{"READ1:1", 0, TagValue::Double(12.5)},
                 {"START_UP1:1", 1, TagValue::Boolean(true)},
                 {"START_UP1:2", 1, TagValue::Boolean(false)},
                 {"X", 2, TagValue::Text("abc")},
                 {"Y", 7, TagValue::Double(1)}};
  object.read_requests = {"READ\r\n", "ENQ\r\n"};
  object.has_current = true;
  object.current_is_write = true;
  object.current_request = "W\r";
  object.current_response = "OK";
  object.message = "hello";
  object.answer_from_step = 1;
  session.TimerTick();
  const auto& grid = session.view().grid;
  EXPECT_EQ(grid[0], DeviceTestSession::Row{}) << "the header row is never written";
  const char* values[] = {"12.5", "开", "关", "abc", "[Other Type]"};
  for (int j = 0; j < 5; ++j) {
    EXPECT_EQ(grid[j + 1][0], object.tags[j].address);
    EXPECT_EQ(U8(grid[j + 1][1]), values[j]);
  }
  EXPECT_EQ(U8(grid[1][2]), "写标签");
  EXPECT_EQ(grid[1][3], "W\r");
  EXPECT_EQ(grid[2][3], "READ\r\n");
  EXPECT_EQ(grid[3][3], "ENQ\r\n");
  EXPECT_EQ(session.view().write_request, "W\r");
  EXPECT_EQ(session.view().answer, "OK");
  EXPECT_EQ(session.view().comm_msg, "hello");
  EXPECT_TRUE(session.answered());

  // The next tick starts from an empty grid.
  object.tags.resize(1);
  object.read_requests.clear();
  object.current_is_write = false;
  session.TimerTick();
  EXPECT_TRUE(grid[2][0].empty());
  EXPECT_TRUE(grid[2][3].empty());
  EXPECT_EQ(U8(grid[1][2]), "读标签");
  EXPECT_EQ(session.view().comm_msg, "");

  // Far more tags and commands than rows stay inside the grid.
  object.tags.assign(150, {"T", 0, TagValue::Double(1)});
  object.read_requests.assign(150, "R");
  session.TimerTick();
  EXPECT_EQ(grid[99][0], "T");
}

TEST_F(DeviceTestLogicTest, PausingStopsTheTimerAndAStoppedSessionDoesNothingOnTicks) {
  DeviceTestSession session(driver_);
  ASSERT_TRUE(session.Begin(block_));
  EXPECT_TRUE(session.view().timer_running);
  session.PauseClicked();
  EXPECT_FALSE(session.view().timer_running);
  EXPECT_EQ(U8(session.view().pause_caption), "继续");
  session.PauseClicked();
  EXPECT_TRUE(session.view().timer_running);
  EXPECT_EQ(U8(session.view().pause_caption), "暂停");

  driver_.answer_from_step = 1;
  driver_.object->answer_from_step = 1;
  EXPECT_FALSE(session.Close());
  EXPECT_EQ(driver_.calls.back(), "stop");
  session.TimerTick();
  EXPECT_EQ(driver_.object->steps, 0);
}

TEST_F(DeviceTestLogicTest, ReadingANewAddressStopsTheOldObjectAndPollsTheNewOne) {
  DeviceTestSession session(driver_);
  ASSERT_TRUE(session.Begin(block_));
  session.DebugClicked();
  session.AddressEdited("m_final1:2");
  session.TypeChosen(0);
  session.SetReadChecked(true);
  EXPECT_EQ(session.view().address, "M_FINAL1:2");
  EXPECT_STREQ(session.test_tag().Address, "M_FINAL1:2");
  EXPECT_STREQ(session.test_tag().Name, "Y0.0");
  EXPECT_EQ(session.test_tag().InitialValue.vt, 3);
  EXPECT_EQ(session.test_tag().InitialValue.Data.Int32, -1);
  ASSERT_GE(driver_.calls.size(), 3u);
  EXPECT_EQ(driver_.calls[driver_.calls.size() - 2], "stop");
  EXPECT_EQ(driver_.calls.back(), "start M_FINAL1:2");
  EXPECT_TRUE(session.view().write_enabled);
  EXPECT_TRUE(session.polling());

  driver_.object->answer_from_step = 1;
  session.TimerTick();
  EXPECT_EQ(driver_.object->steps, 1);
  EXPECT_TRUE(session.answered());
  EXPECT_EQ(session.view().grid[1][0], "M_FINAL1:2");
}

TEST_F(DeviceTestLogicTest, ARestartWhosePortIsTakenSaysSo) {
  DeviceTestSession session(driver_);
  ASSERT_TRUE(session.Begin(block_));
  session.DebugClicked();
  for (bool busy : {false, true}) {
    SCOPED_TRACE(busy);
    driver_.start_ok = false;
    driver_.port_busy = busy;
    driver_.start_message = "msg";
    session.SetReadChecked(true);
    EXPECT_FALSE(session.polling());
    EXPECT_EQ(session.view().sys_msg, "msg");
    const std::vector<std::string> alerts = session.TakeAlerts();
    EXPECT_EQ(alerts.size(), busy ? 1u : 0u);
    if (busy) {
      EXPECT_EQ(U8(alerts[0]), "串口被其他应用程序占用!");
    }
    session.SetReadChecked(false);
    session.TakeAlerts();
  }
}

TEST_F(DeviceTestLogicTest, WrittenTextsBecomeBooleansOrNumbers) {
  const struct {
    const char* text;
    TagValue value;
  } cases[] = {{"true", TagValue::Boolean(true)}, {"TRUE", TagValue::Boolean(true)},
               {"tRuE", TagValue::Boolean(true)}, {"False", TagValue::Boolean(false)},
               {"12.5", TagValue::Double(12.5)},  {"-3", TagValue::Double(-3)},
               {"abc", TagValue::Double(0)},      {"", TagValue::Double(0)},
               {"1e3", TagValue::Double(1000)},   {"12.5x", TagValue::Double(0)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    FakeDriver driver;
    DeviceTestSession session(driver);
    ASSERT_TRUE(session.Begin(block_));
    session.DebugClicked();
    session.TimerTick();  // the object has a command from its first step on
    session.WriteValueEdited(c.text);
    session.SetWriteChecked(true);
    EXPECT_TRUE(session.view().read_checked) << "writing reads the tag as well";
    ASSERT_EQ(driver.object->writes.size(), 1u);
    EXPECT_EQ(driver.object->writes[0].first, 0u);
    EXPECT_TRUE(driver.object->writes[0].second == c.value);
    EXPECT_EQ(driver.object->writes[0].second.IsBoolean(), c.value.IsBoolean());
  }
}

TEST_F(DeviceTestLogicTest, EditsUncheckTheOperations) {
  DeviceTestSession session(driver_);
  ASSERT_TRUE(session.Begin(block_));
  session.DebugClicked();
  session.TimerTick();
  session.SetWriteChecked(true);
  ASSERT_TRUE(session.view().write_checked);
  session.WriteValueEdited("5");
  EXPECT_FALSE(session.view().write_checked);
  EXPECT_TRUE(session.view().read_checked);
  session.AddressEdited("READ2:1");
  EXPECT_FALSE(session.view().read_checked);
  EXPECT_FALSE(session.view().write_enabled);
  // Without a command there is nothing to write.
  FakeDriver fresh;
  DeviceTestSession idle(fresh);
  ASSERT_TRUE(idle.Begin(block_));
  idle.SetWriteChecked(true);
  EXPECT_TRUE(fresh.object->writes.empty());
  EXPECT_FALSE(idle.view().read_checked);
}

TEST_F(DeviceTestLogicTest, ATypedRequestReplacesTheCurrentCommandsRequest) {
  DeviceTestSession session(driver_);
  ASSERT_TRUE(session.Begin(block_));
  session.AskClicked();  // no command yet: nothing happens
  session.TimerTick();
  session.AskEdited("ENQ01");
  session.AskClicked();
  EXPECT_EQ(driver_.object->current_request, "ENQ01\r\n");

  // Reading restarts the driver; the request then waits for the new
  // object's first command.
  session.DebugClicked();
  session.SetReadChecked(true);
  session.TimerTick();
  session.AskEdited(std::string(300, 'A'));
  session.AskClicked();
  EXPECT_FALSE(session.view().read_checked);
  EXPECT_EQ(driver_.object->steps, 0);
  session.TimerTick();  // the step that gives the new object its command
  EXPECT_EQ(driver_.object->current_request, "");
  session.TimerTick();
  EXPECT_EQ(driver_.object->current_request,
            std::string(255, 'A'));  // cut after the line end was added
}

TEST_F(DeviceTestLogicTest, TheDebugPanelTogglesCaptionsHeightAndPause) {
  DeviceTestSession session(driver_);
  ASSERT_TRUE(session.Begin(block_));
  session.PauseClicked();
  session.DebugClicked();
  EXPECT_TRUE(session.view().debug_shown);
  EXPECT_EQ(session.view().height, DeviceTestSession::kDebugHeight);
  EXPECT_EQ(U8(session.view().debug_caption), "自动检测↑");
  EXPECT_FALSE(session.view().pause_enabled);
  EXPECT_TRUE(session.view().timer_running);
  session.AddressEdited("READ5:1");
  session.SetReadChecked(true);
  const std::size_t calls = driver_.calls.size();
  session.DebugClicked();
  EXPECT_FALSE(session.view().debug_shown);
  EXPECT_EQ(session.view().height, DeviceTestSession::kCompactHeight);
  EXPECT_EQ(U8(session.view().debug_caption), "高级调试↓");
  EXPECT_TRUE(session.view().pause_enabled);
  EXPECT_FALSE(session.view().read_checked);
  // Hiding the panel goes back to the default tag.
  ASSERT_GT(driver_.calls.size(), calls);
  EXPECT_EQ(driver_.calls.back(), "start READ1:1");
  EXPECT_STREQ(session.test_tag().Address, "READ1:1");
}

}  // namespace
}  // namespace tk571::ui
