// The host's writes turned into queued write commands, and how values and
// qualities reach the tags the host reads.
#include <gtest/gtest.h>

#include "engine/scripted_engine.h"

namespace tk571::testing {
namespace {

class ReadWriteTest : public EngineTest {
 protected:
  // Tags whose value differs from the last one reported, as the host's poll
  // sees them; marks them reported.
  std::vector<std::pair<std::string, uint32_t>> Report() {
    std::vector<std::pair<std::string, uint32_t>> changed;
    for (int32_t i = 0; i < e.TagCount(); ++i) {
      TDLLTag* tag = e.TagAt(i);
      if (tag->Value == tag->ReportedValue) continue;
      tag->ReportedValue = tag->Value;
      changed.emplace_back(tag->Name, tag->Quality);
    }
    return changed;
  }
  // Lets the machine finish its first read of everything, answered.
  void SettleReads() {
    e.answering = true;
    for (int i = 0; i < 20; ++i) Poll();
    e.answering = false;
  }
};

TEST_F(ReadWriteTest, RefusedWritesReturnFalseQueueNothingAndSayWhy) {
  e.AddMedium("SP", 1, 1000000);
  e.AddStartUp("GO", 1);
  e.AddRead("WT", 1, 1000000);
  e.AddInternal("COMMLINK", TK571_VALUE_STRING);
  e.AddInternal("DEVICELINK3", TK571_VALUE_FLOAT, 3);
  e.AddInternal("ENDEVICELINK3", TK571_VALUE_BOOL, 3);
  e.Start();
  struct Case {
    const char* tag;
    TagValue value;
    std::string line;  // what the run log says, after the date-time text
  };
  const Case cases[] = {
      {"SP", TagValue::Double(0),
       G("：标签写入请求未执行：SP写入值与当前值相同, 地址=SP, 标签值=0\r\n")},
      {"SP", TagValue::Boolean(true), G("：标签SP写错误,标签不是开关量类型!\r\n")},
      {"SP", TagValue::Text("5"), G("：标签SP写错误,标签不是字符串类型!\r\n")},
      {"GO", TagValue::Double(1), G("：标签GO写错误,标签不是模拟量类型!\r\n")},
      {"GO", TagValue::Boolean(false),
       G("：标签写入请求未执行：GO写入值与当前值相同, 地址=GO, 标签值=False\r\n")},
      {"WT", TagValue::Double(3), G("：标签WT不可写!\r\n")},
      {"COMMLINK", TagValue::Text("x"), G("：标签COMMLINK不可写!\r\n")},
      {"DEVICELINK3", TagValue::Double(1), G("：标签DEVICELINK3不可写!\r\n")},
      {"ENDEVICELINK3", TagValue::Boolean(false), G("：标签ENDEVICELINK3不可写!\r\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    e.log.clear();
    uint32_t id = 0;
    for (int32_t i = 0; i < e.TagCount(); ++i)
      if (e.TagAt(i)->Name == c.tag) id = e.TagAt(i)->TagID;
    EXPECT_FALSE(e.WriteExecute(id, c.value));
    EXPECT_TRUE(e.QueuedWrites().empty());
    EXPECT_EQ(e.CountInLog(c.line), 1) << platform::FromGbk(e.LogText());
  }
}

TEST_F(ReadWriteTest, UnknownTagIdsAndWritesBeforeStartAreRefusedQuietly) {
  EXPECT_FALSE(e.WriteExecute(100, TagValue::Double(1)));  // nothing started
  e.AddMedium("SP", 1);
  e.Start();
  for (uint32_t id : {0u, 99u, 101u, 0xFFFFFFFFu})
    EXPECT_FALSE(e.WriteExecute(id, TagValue::Double(1)));
  EXPECT_TRUE(e.QueuedWrites().empty());
  EXPECT_TRUE(e.log.empty());
}

TEST_F(ReadWriteTest, AWriteOnTheLineRefusesAnotherForTheSameTag) {
  TDLLTag& sp = e.AddMedium("SP", 1, 1000000);
  e.Start();
  SettleReads();
  ASSERT_TRUE(e.WriteExecute(sp.TagID, TagValue::Double(4)));
  Poll();
  ASSERT_EQ(e.RunState(), rsWriting);
  e.log.clear();
  EXPECT_FALSE(e.WriteExecute(sp.TagID, TagValue::Double(6)));
  EXPECT_EQ(e.CountInLog(G("：标签写入请求未执行：SP正在执行写入操作, 地址=SP, 标签值=0\r\n")), 1);
  EXPECT_TRUE(e.QueuedWrites().empty());
}

TEST_F(ReadWriteTest, ASecondWriteBeforeTheFirstWasSentReplacesIt) {
  TDLLTag& a = e.AddMedium("SA", 1, 1000000);
  TDLLTag& b = e.AddMedium("SB", 1, 1000000);
  e.Start();
  EXPECT_TRUE(e.WriteExecute(a.TagID, TagValue::Double(1)));
  EXPECT_TRUE(e.WriteExecute(b.TagID, TagValue::Double(2)));
  EXPECT_TRUE(e.WriteExecute(a.TagID, TagValue::Double(3)));
  ASSERT_EQ(e.QueuedWrites().size(), 2u);
  EXPECT_EQ(e.QueuedWrites()[0]->Indexes.front(), b.Index);
  EXPECT_EQ(e.QueuedWrites()[1]->Values, TValueArray{TagValue::Double(3)});
  EXPECT_EQ(e.CountInLog(G("：标签执行覆盖写入操作：")), 1);
  EXPECT_EQ(e.CountInLog(G("：标签执行覆盖写入操作：SA, 地址=SA, 标签值=0\r\n")), 1);
  EXPECT_EQ(a.Value, TagValue::Integer(0));
}

TEST_F(ReadWriteTest, CancellingAQueuedStartBeforeItWentOutIsNotRefused) {
  TDLLTag& go = e.AddStartUp("GO", 1);
  e.Start();
  ASSERT_TRUE(e.WriteExecute(go.TagID, TagValue::Boolean(true)));
  // The tag still shows false: the operator's cancel equals the shown value.
  EXPECT_TRUE(e.WriteExecute(go.TagID, TagValue::Boolean(false)));
  ASSERT_EQ(e.QueuedWrites().size(), 1u);
  EXPECT_EQ(e.QueuedWrites()[0]->Values, TValueArray{TagValue::Boolean(false)});
  e.answering = true;
  Poll();
  Poll();
  EXPECT_EQ(e.sent.size(), 1u);
  EXPECT_EQ(go.Value, TagValue::Boolean(false));
}

TEST_F(ReadWriteTest, TheSameValueTwiceIsARepeatedWriteButTheTagShowsIt) {
  TDLLTag& a = e.AddMedium("SA", 1, 1000000);
  e.Start();
  EXPECT_TRUE(e.WriteExecute(a.TagID, TagValue::Double(5)));
  EXPECT_FALSE(e.WriteExecute(a.TagID, TagValue::Double(5)));
  EXPECT_EQ(e.QueuedWrites().size(), 1u);
  EXPECT_EQ(e.CountInLog(G("：标签写入请求未执行：SA重复写入, 地址=SA, 标签值=5\r\n")), 1);
  EXPECT_EQ(a.Value, TagValue::Double(5));
}

TEST_F(ReadWriteTest, AWriteNotSentWithinTenSecondsIsDroppedAtTheNextAcceptedWrite) {
  TDLLTag& a = e.AddMedium("SA", 1, 1000000);
  TDLLTag& b = e.AddMedium("SB", 1, 1000000);
  TDLLTag& c = e.AddMedium("SC", 1, 1000000);
  e.Start();
  ASSERT_TRUE(e.WriteExecute(a.TagID, TagValue::Double(1)));
  clock.Advance(10000);
  ASSERT_TRUE(e.WriteExecute(b.TagID, TagValue::Double(2)));
  EXPECT_EQ(e.QueuedWrites().size(), 2u);  // exactly 10 s is not stale
  EXPECT_EQ(a.Quality, 0u);
  clock.Advance(1);
  ASSERT_TRUE(e.WriteExecute(c.TagID, TagValue::Double(3)));
  ASSERT_EQ(e.QueuedWrites().size(), 2u);
  EXPECT_EQ(e.QueuedWrites()[0]->Indexes.front(), b.Index);
  EXPECT_EQ(a.Quality, kQualityStaleWrite);
  EXPECT_EQ(a.Value, TagValue::Integer(0));
  EXPECT_EQ(b.Quality, 0u);
}

TEST_F(ReadWriteTest, AFullQueueRefusesTheNewWrite) {
  for (int i = 0; i < 301; ++i) e.AddMedium("S" + std::to_string(i), 1, 1000000);
  e.Start();
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(e.WriteExecute(e.Tag(i).TagID, TagValue::Double(1)));
  EXPECT_FALSE(e.WriteExecute(e.Tag(300).TagID, TagValue::Double(1)));
  EXPECT_EQ(e.QueuedWrites().size(), 300u);
  EXPECT_EQ(e.Tag(300).Value, TagValue::Integer(0));
  EXPECT_EQ(e.CountInLog(G("S300写入队列已满,")), 1);
  // Room again once the oldest writes are stale.
  clock.Advance(10001);
  EXPECT_TRUE(e.WriteExecute(e.Tag(300).TagID, TagValue::Double(1)));
  EXPECT_EQ(e.QueuedWrites().size(), 1u);
}

TEST_F(ReadWriteTest, EncommlinkZeroStopsEveryStepAndRefusesWritesUntilOne) {
  TDLLTag& link = e.AddInternal("ENCOMMLINK", TK571_VALUE_FLOAT);
  e.AddRead("W", 1, 100);
  TDLLTag& sp = e.AddMedium("SP", 1, 1000000);
  e.Start();
  Poll();
  ASSERT_EQ(e.sent.size(), 1u);
  EXPECT_TRUE(e.WriteExecute(link.TagID, TagValue::Double(0)));
  EXPECT_FALSE(e.CommEnabled());
  EXPECT_EQ(link.Value, TagValue::Integer(0));
  Run(5000, 50);
  EXPECT_EQ(e.sent.size(), 1u);
  EXPECT_FALSE(e.WriteExecute(sp.TagID, TagValue::Double(5)));
  EXPECT_TRUE(e.QueuedWrites().empty());
  EXPECT_TRUE(e.WriteExecute(link.TagID, TagValue::Double(1)));
  EXPECT_EQ(link.Value, TagValue::Integer(1));
  Poll();
  EXPECT_GT(e.sent.size(), 1u);
  EXPECT_TRUE(e.WriteExecute(sp.TagID, TagValue::Double(5)));
}

TEST_F(ReadWriteTest, EnlogTakesEffectAtOnce) {
  TDLLTag& enlog = e.AddInternal("ENLOG", TK571_VALUE_BOOL);
  e.Start();
  EXPECT_TRUE(e.WriteExecute(enlog.TagID, TagValue::Boolean(true)));
  EXPECT_TRUE(e.EnLog());
  EXPECT_EQ(enlog.Value, TagValue::Boolean(true));
  EXPECT_TRUE(e.WriteExecute(enlog.TagID, TagValue::Double(0)));
  EXPECT_FALSE(e.EnLog());
  EXPECT_EQ(enlog.Value, TagValue::Boolean(false));
}

TEST_F(ReadWriteTest, TheHostSeesExactlyTheChangedValuesWithTheirQuality) {
  TDLLTag& w1 = e.AddRead("W1", 1, 1000);
  TDLLTag& w2 = e.AddRead("W2", 2, 1000);
  TDLLTag& sp = e.AddMedium("SP", 3, 1000000);
  e.Start({.log_errors = false});
  w2.Quality = kQualityWriteFailed;
  e.answering = true;
  e.reply_values[w1.Index] = TagValue::Double(12.5);
  e.reply_values[w2.Index] = TagValue::Integer(0);  // unchanged value
  Poll();
  Poll();
  Poll();
  // Only W1 changed; W2's quality went back to 0 without a report.
  EXPECT_EQ(Report(), (std::vector<std::pair<std::string, uint32_t>>{{"W1", 0u}}));
  EXPECT_EQ(w2.Quality, 0u);
  EXPECT_TRUE(Report().empty());

  // A write shows its value once answered, with quality 0.
  Poll();
  ASSERT_TRUE(e.WriteExecute(sp.TagID, TagValue::Double(8)));
  EXPECT_TRUE(Report().empty());  // still the old value while queued
  Poll();
  Poll();
  EXPECT_EQ(Report(), (std::vector<std::pair<std::string, uint32_t>>{{"SP", 0u}}));

  // A failed write changes the quality only: nothing is reported.
  e.answering = false;
  ASSERT_TRUE(e.WriteExecute(sp.TagID, TagValue::Double(9)));
  for (int i = 0; i < 6; ++i) After(201);
  EXPECT_EQ(sp.Quality, kQualityWriteFailed);
  EXPECT_EQ(sp.Value, TagValue::Double(8));
  for (const auto& [name, quality] : Report()) EXPECT_NE(name, "SP");
}

}  // namespace
}  // namespace tk571::testing
