// Link status of the line and of each device, and the internal link tags
// that show it, through the life of a device.
#include <gtest/gtest.h>

#include "engine/scripted_engine.h"

namespace tk571::testing {
namespace {

class LinkStatusTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    e.AddRead("W1", 1, 0);
    e.AddRead("W2", 2, 1000000);
    line_text_ = &AddLinkTag("LINE_TEXT", "COMMLINK", TK571_VALUE_STRING);
    line_number_ = &AddLinkTag("LINE_NUMBER", "COMMLINK", TK571_VALUE_FLOAT);
    line_switch_ = &AddLinkTag("LINE_SWITCH", "COMMLINK", TK571_VALUE_BOOL);
    enable_text_ = &AddLinkTag("ENABLE_TEXT", "ENCOMMLINK", TK571_VALUE_STRING);
    dev1_text_ = &AddLinkTag("DEV1_TEXT", "DEVICELINK1", TK571_VALUE_STRING, 1);
    dev1_number_ = &AddLinkTag("DEV1_NUMBER", "DEVICELINK1", TK571_VALUE_FLOAT, 1);
    dev1_switch_ = &AddLinkTag("DEV1_SWITCH", "DEVICELINK1", TK571_VALUE_BOOL, 1);
    dev2_text_ = &AddLinkTag("DEV2_TEXT", "DEVICELINK2", TK571_VALUE_STRING, 2);
    e.Start({.log_errors = false});
    // W2 is not due during the story: only device 1 talks.
    e.ReadCommands()[1]->LastTick = Now();
    Poll();  // W1 goes out
  }

  TDLLTag& AddLinkTag(const std::string& name, const std::string& address, uint8_t kind,
                      int32_t dev_no = -1) {
    TDLLTag& tag = e.AddTag({.name = name,
                             .type_name = address,
                             .dev_no = dev_no,
                             .data_kind = kind,
                             .value = TagValue::Text("initial"),
                             .internal = true});
    return tag;
  }

  void Timeouts(int n) {
    for (int i = 0; i < n; ++i) After(201);
  }
  void Answer() {
    e.answering = true;
    After(1);
    e.answering = false;
  }

  std::string LineText(uint8_t code) { return G("TK571配料控制器(RS485)") + e.LinkText(code); }
  std::string DeviceText(int d, uint8_t code) {
    return std::to_string(d) + G("号 智能仪表TK571") + e.LinkText(code);
  }

  TDLLTag* line_text_;
  TDLLTag* line_number_;
  TDLLTag* line_switch_;
  TDLLTag* enable_text_;
  TDLLTag* dev1_text_;
  TDLLTag* dev1_number_;
  TDLLTag* dev1_switch_;
  TDLLTag* dev2_text_;
};

TEST_F(LinkStatusTest, TheStoryOfADevice) {
  struct Chapter {
    const char* what;
    int timeouts;  // 0: one answered exchange
    uint8_t line;
    uint8_t device;
    const char* line_text_utf8;
    const char* device_status_utf8;
  };
  const Chapter story[] = {
      {"never answered", 3, lsNeverAnswered, lsNeverAnswered, "通讯始终不成功!", "通讯始终不成功!"},
      {"still never answered after many", 20, lsNeverAnswered, lsNeverAnswered, "通讯始终不成功!",
       "通讯始终不成功!"},
      {"answered", 0, lsNormal, lsNormal, "通讯正常!", "通讯正常!"},
      {"1 failure", 1, lsFault, lsInterference, "通讯出现故障!", "通讯出现干扰!"},
      {"3 failures", 2, lsFault, lsInterference, "通讯出现故障!", "通讯出现干扰!"},
      {"4 failures", 1, lsFault, lsFault, "通讯出现故障!", "通讯出现故障!"},
      {"8 failures", 4, lsFault, lsFault, "通讯出现故障!", "通讯出现故障!"},
      {"9 failures", 1, lsFault, lsBroken, "通讯出现故障!", "通讯线路断路!"},
      {"30 failures", 21, lsFault, lsBroken, "通讯出现故障!", "通讯线路断路!"},
      {"answered again", 0, lsNormal, lsNormal, "通讯正常!", "通讯正常!"},
  };
  for (const Chapter& c : story) {
    SCOPED_TRACE(c.what);
    if (c.timeouts == 0)
      Answer();
    else
      Timeouts(c.timeouts);
    EXPECT_EQ(line_text_->Value, TagValue::Text(G("TK571配料控制器(RS485)") + G(c.line_text_utf8)));
    EXPECT_EQ(line_number_->Value, TagValue::Integer(c.line));
    EXPECT_EQ(line_switch_->Value, TagValue::Boolean(c.line >= lsNormal && c.line <= lsFault));
    EXPECT_EQ(dev1_text_->Value, TagValue::Text(G("1号 智能仪表TK571") + G(c.device_status_utf8)));
    EXPECT_EQ(dev1_number_->Value, TagValue::Integer(c.device));
    EXPECT_EQ(dev1_switch_->Value, TagValue::Boolean(c.device >= lsNormal && c.device <= lsFault));
    EXPECT_EQ(enable_text_->Value, TagValue::Text(G("打开通信线路")));
    // Device 2 did not take part: its tag keeps its value.
    EXPECT_EQ(dev2_text_->Value, TagValue::Text("initial"));
  }
}

// A device layer may finish an exchange while the line is closed; the link
// tags then show the pause.
TEST_F(LinkStatusTest, AnExchangeEndingWithTheLineClosedShowsThePause) {
  Answer();
  Poll();
  ASSERT_NE(e.CurrentCommand(), nullptr);
  e.SetCommEnabled(false);
  e.EndExchange(opReadACK);
  EXPECT_EQ(dev1_number_->Value, TagValue::Integer(lsPaused));
  EXPECT_EQ(dev1_switch_->Value, TagValue::Boolean(false));
  EXPECT_EQ(line_text_->Value, TagValue::Text(LineText(lsPaused)));
  EXPECT_EQ(line_number_->Value, TagValue::Integer(lsPaused));
  EXPECT_EQ(enable_text_->Value, TagValue::Text(G("关闭通信线路")));
  EXPECT_EQ(dev1_text_->Value, TagValue::Text(DeviceText(1, lsPaused)));
  EXPECT_EQ(e.LinkText(lsNeverAnswered), G("通讯暂停!"));
}

TEST_F(LinkStatusTest, ACommandForADeviceOutsideTheTableChangesOnlyTheLine) {
  Answer();
  Poll();
  ASSERT_NE(e.CurrentCommand(), nullptr);
  e.CurrentCommand()->DevNo = 250;
  e.EndExchange(opReadNAK);
  EXPECT_EQ(line_number_->Value, TagValue::Integer(lsFault));
  EXPECT_EQ(dev1_number_->Value, TagValue::Integer(lsNormal));
}

}  // namespace
}  // namespace tk571::testing
