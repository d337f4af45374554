// Building the read commands and choosing the next command.
#include <gtest/gtest.h>

#include "engine/scripted_engine.h"

namespace tk571::testing {
namespace {

class SchedulerTest : public EngineTest {
 protected:
  TCommand& ReadOf(int32_t position) {
    for (const CommandPtr& c : e.ReadCommands())
      for (int32_t index : c->Indexes)
        if (index == position) return *c;
    throw std::logic_error("no read command");
  }
};

TEST_F(SchedulerTest, RefreshGroupsReadableTagsAndLeavesOutTheOthers) {
  e.AddRead("A", 1, 1000);                                     // 0
  e.AddRead("B", 1, 300);                                      // 1: joins A
  e.AddRead("C", 2, 1000);                                     // 2: other device
  e.AddStartUp("GO", 1);                                       // 3: write only
  e.AddTag({.name = "X", .type_name = "", .type_index = -1});  // 4: no type
  e.AddInternal("COMMLINK", TK571_VALUE_FLOAT);                // 5
  e.AddMedium("SP", 1, 800);                                   // 6: read and write
  e.Start({.log_errors = false});
  ASSERT_EQ(e.ReadCommands().size(), 3u);
  EXPECT_EQ(e.ReadCommands()[0]->Indexes, (TIndexArray{0, 1}));
  EXPECT_EQ(e.ReadCommands()[0]->Interval, 300);
  EXPECT_EQ(e.ReadCommands()[1]->Indexes, (TIndexArray{2}));
  EXPECT_EQ(e.ReadCommands()[2]->Indexes, (TIndexArray{6}));
  for (const CommandPtr& c : e.ReadCommands()) {
    EXPECT_EQ(c->Flags, command_flags::kRead);
    EXPECT_EQ(c->RetryMode, retry_mode::kGiveUp);
    EXPECT_EQ(c->Sealed, 1);
    EXPECT_FALSE(c->IsWrite);
  }
  EXPECT_EQ(e.ScanTime(), 10);
}

TEST_F(SchedulerTest, RefreshLogsTheTagCountAndResetsTheStatistics) {
  e.AddRead("A", 1);
  e.AddRead("B", 2);
  e.Start({.log_errors = false});
  Poll();
  After(201);
  ASSERT_EQ(e.Totals().read_timeouts, 1);
  ASSERT_EQ(e.Totals().read_failures, 1u);
  e.log.clear();
  e.Refresh();
  EXPECT_EQ(e.Totals().read_timeouts, 0);
  EXPECT_EQ(e.Totals().read_failures, 0u);
  EXPECT_EQ(e.CountInLog(G("：有效标签个数=2\r\n")), 1);
}

TEST_F(SchedulerTest, AReadThatKeepsTimingOutIsBackedOff) {
  constexpr uint32_t kInterval = 1000;
  e.AddRead("A", 1, kInterval);
  e.Start({.log_errors = false});
  Poll();
  // Gaps between sends, in intervals: none after 1 timeout, then 4, 6, 8
  // extra, none at count 10, then 10 extra.
  const uint32_t expected_gaps[] = {1, 5, 7, 9, 1, 11, 11};
  while (e.sent_ticks.size() < 8 && Now() - e.sent_ticks[0] < 100000) After(1);
  ASSERT_EQ(e.sent_ticks.size(), 8u);
  for (std::size_t i = 0; i < 7; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(e.sent_ticks[i + 1] - e.sent_ticks[i], expected_gaps[i] * kInterval);
  }
}

TEST_F(SchedulerTest, TheBackOffEndsWhenTheReadWasNotChosenForAMinute) {
  e.AddRead("A", 1, 1000);
  e.Start({.log_errors = false});
  Poll();
  while (e.sent.size() < 8) After(1);
  After(201);
  ASSERT_EQ(e.ReadCommands()[0]->FailCount, 16);
  e.SetCommEnabled(false);
  Run(61000, 100);
  e.SetCommEnabled(true);
  const std::size_t before = e.sent.size();
  Poll();
  EXPECT_EQ(e.sent.size(), before + 1);  // due at once
  After(201);
  EXPECT_EQ(e.ReadCommands()[0]->FailCount, 2);
  Run(798);
  EXPECT_EQ(e.sent.size(), before + 1);
  After(1);
  EXPECT_EQ(e.sent.size(), before + 2);  // no back-off any more
}

TEST_F(SchedulerTest, TheMostOverdueReadGoesFirst) {
  e.AddRead("A", 1, 1000);
  e.AddRead("B", 2, 300);
  e.AddRead("C", 3, 500);
  e.Start();
  const uint32_t now = Now();
  ReadOf(0).LastTick = now - 1000 - 50;
  ReadOf(1).LastTick = now - 300 - 200;
  ReadOf(2).LastTick = now - 500 - 100;
  e.answering = true;
  Poll();
  Poll();
  Poll();
  EXPECT_EQ(e.sent,
            (std::vector<std::string>{ReadRequest("B"), ReadRequest("C"), ReadRequest("A")}));
}

TEST_F(SchedulerTest, ReadsWithEqualIntervalsAlternate) {
  e.AddRead("A", 1, 500);
  e.AddRead("B", 2, 500);
  e.Start();
  e.answering = true;
  Run(2100);
  ASSERT_GE(e.sent.size(), 8u);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(e.sent[i], ReadRequest(i % 2 ? "B" : "A"));
}

TEST_F(SchedulerTest, AQueuedWriteGoesAheadOfDueReadsUnlessAReadIsFarMoreOverdue) {
  struct Case {
    uint32_t read_overdue_ms;
    uint32_t write_age_ms;
    bool write_first;
  };
  const Case cases[] = {
      {0, 0, true},      {5000, 0, true},    {10000, 0, false},
      {10500, 0, false}, {10500, 600, true}, {10500, 500, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.read_overdue_ms << " / " << c.write_age_ms);
    ScriptedEngine engine;
    engine.AddRead("R", 1, 1000);
    TDLLTag& sp = engine.AddMedium("SP", 2, 1000000);
    engine.Start();
    engine.ReadCommands()[1]->LastTick = clock.TickMs();  // SP's own read is not due
    ASSERT_TRUE(engine.WriteExecute(sp.TagID, TagValue::Double(5)));
    clock.Advance(c.write_age_ms);
    engine.ReadCommands()[0]->LastTick = clock.TickMs() - 1000 - c.read_overdue_ms;
    engine.ReadExecute();
    ASSERT_EQ(engine.sent.size(), 1u);
    EXPECT_EQ(engine.sent[0] == WriteRequest("SP"), c.write_first);
  }
}

TEST_F(SchedulerTest, WritesLeaveTheQueueInOrderOnePerChoice) {
  TDLLTag& a = e.AddMedium("SA", 1, 1000000);
  TDLLTag& b = e.AddMedium("SB", 1, 1000000);
  e.Start();
  for (const CommandPtr& c : e.ReadCommands()) c->LastTick = Now();
  ASSERT_TRUE(e.WriteExecute(a.TagID, TagValue::Double(1)));
  ASSERT_TRUE(e.WriteExecute(b.TagID, TagValue::Double(2)));
  e.answering = true;
  Poll();  // SA out
  EXPECT_EQ(e.QueuedWrites().size(), 1u);
  Poll();  // SA answered, SB out
  Poll();  // SB answered
  EXPECT_EQ(e.sent, (std::vector<std::string>{WriteRequest("SA"), WriteRequest("SB")}));
  EXPECT_TRUE(e.QueuedWrites().empty());
  EXPECT_EQ(a.Value, TagValue::Double(1));
  EXPECT_EQ(b.Value, TagValue::Double(2));
}

TEST_F(SchedulerTest, AWriteChainRunsBackToBackAndIsReleasedAsAWhole) {
  TDLLTag& sp = e.AddMedium("SP", 1, 1000000);
  e.Start();
  e.ReadCommands()[0]->LastTick = Now();
  ASSERT_TRUE(e.WriteExecute(sp.TagID, TagValue::Double(3)));
  auto second = std::make_unique<TCommand>();
  second->Request = "SECOND";
  second->IsWrite = 1;
  second->Flags = command_flags::kWriteCommand;
  second->RetryMode = retry_mode::kSendAgain;
  e.QueuedWrites().front()->Next = std::move(second);
  e.answering = true;
  Poll();
  Poll();
  Poll();
  EXPECT_EQ(e.sent, (std::vector<std::string>{WriteRequest("SP"), "SECOND"}));
  EXPECT_TRUE(e.QueuedWrites().empty());
  EXPECT_EQ(e.CurrentCommand(), nullptr);
  EXPECT_EQ(e.ReadCommands().size(), 1u);
}

TEST_F(SchedulerTest, AReadChainEndsWithoutReleasingTheReadCommands) {
  e.AddRead("A", 1, 1000);
  e.Start();
  auto second = std::make_unique<TCommand>();
  second->Request = "PART2";
  second->Flags = command_flags::kRead;
  e.ReadCommands()[0]->Next = std::move(second);
  e.answering = true;
  Poll();
  Poll();
  Poll();
  EXPECT_EQ(e.sent, (std::vector<std::string>{ReadRequest("A"), "PART2"}));
  ASSERT_EQ(e.ReadCommands().size(), 1u);
  ASSERT_NE(e.ReadCommands()[0]->Next, nullptr);
  Run(1001);
  EXPECT_EQ(e.sent.size(), 4u);  // the whole chain again
}

TEST_F(SchedulerTest, AReadMarkedForReleaseLeavesTheListInsteadOfDangling) {
  e.AddRead("A", 1, 1000);
  e.AddRead("B", 2, 1000);
  e.Start();
  e.ReadCommands()[0]->Flags |= command_flags::kReleaseAfterRun;
  e.answering = true;
  Poll();
  Poll();
  ASSERT_EQ(e.ReadCommands().size(), 1u);
  EXPECT_EQ(e.ReadCommands()[0]->Indexes, (TIndexArray{1}));
  Run(3000);
  for (std::size_t i = 1; i < e.sent.size(); ++i) EXPECT_EQ(e.sent[i], ReadRequest("B"));
}

TEST_F(SchedulerTest, WriteCreationIsListedWithTheDebugSwitch) {
  TDLLTag& sp = e.AddMedium("SP", 1, 1000000);
  e.Start({.debug = true});
  ASSERT_TRUE(e.WriteExecute(sp.TagID, TagValue::Double(12.5)));
  EXPECT_EQ(
      e.CountInLog(G("： 智能仪表类型=TK571，设备号=1[SP 地址=SP 写入值=12.5,]生成写标签命令串=") +
                   WriteRequest("SP") + "\r\n"),
      1);
}

}  // namespace
}  // namespace tk571::testing
