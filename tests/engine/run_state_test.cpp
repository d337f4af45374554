// The run-state machine driven by a test clock and scripted replies.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "engine/scripted_engine.h"

namespace tk571::testing {
namespace {

class RunStateTest : public EngineTest {};

TEST_F(RunStateTest, FirstPollSendsTheDueReadAndWaitsForTheReply) {
  e.AddRead("W1", 1);
  e.Start();
  Poll();
  EXPECT_EQ(e.RunState(), rsReading);
  ASSERT_EQ(e.sent.size(), 1u);
  EXPECT_EQ(e.sent[0], ReadRequest("W1"));
}

TEST_F(RunStateTest, AReplyTimesOutJustAfter200MsAndNotBefore) {
  e.AddRead("W1", 1);
  e.Start();
  Poll();
  After(200);
  EXPECT_EQ(e.RunState(), rsReading);
  EXPECT_EQ(e.Totals().read_timeouts, 0);
  After(1);
  EXPECT_EQ(e.Totals().read_timeouts, 1);
  EXPECT_EQ(e.sErrEvent(), G("通讯超时错，期待设备应答"));
}

TEST_F(RunStateTest, AReadGivenUpKeepsValuesCountsAndLogsTimeoutThenFailure) {
  TDLLTag& tag = e.AddRead("W1", 1, 5000);
  tag.Value = TagValue::Double(12.5);
  tag.Quality = 0;
  e.Start();
  Poll();
  After(201);
  EXPECT_EQ(e.RunState(), rsReady);
  EXPECT_EQ(e.CurrentCommand(), nullptr);
  EXPECT_EQ(tag.ReadCount, 1u);
  EXPECT_EQ(tag.ReadFailCount, 1u);
  EXPECT_EQ(tag.Value, TagValue::Double(12.5));
  EXPECT_EQ(tag.Quality, 0u);
  ASSERT_EQ(e.ReadCommands().size(), 1u);
  EXPECT_EQ(e.ReadCommands()[0]->FailCount, 2);

  const std::string all = e.LogText();
  const std::size_t timeout = all.find(G("：通讯读超时错，执行操作=") + ReadRequest("W1") + "\r\n");
  const std::size_t expected = all.find(G("：通讯读超时错，期待应答="));
  const std::size_t failure = all.find(G("：通讯读失败，执行操作=") + ReadRequest("W1"));
  ASSERT_NE(timeout, std::string::npos);
  ASSERT_NE(failure, std::string::npos);
  EXPECT_LT(timeout, expected);
  EXPECT_LT(expected, failure);
  EXPECT_EQ(e.CountInLog(G("：没有接收到应答信息！")), 2);

  StopWithReport();
  EXPECT_EQ(e.CountInLog(G("：读操作失败总次数= 1\r\n")), 1);
  EXPECT_EQ(e.CountInLog(G("：读通讯总次数= 1\r\n")), 1);
  EXPECT_EQ(e.CountInLog(G("：通讯读超时次数= 1\r\n")), 1);
  EXPECT_EQ(e.CountInLog(G("，读操作失败率= 100%")), 1);
}

TEST_F(RunStateTest, RetryModesDecideWhatFollowsATimeout) {
  struct Case {
    uint8_t retry_mode;
    int sends_after_first_timeout;   // within the same poll
    int sends_after_second_timeout;  // nothing more: the read is not due again
  };
  const Case cases[] = {
      {retry_mode::kSendAgain, 2, 2},    // sent once more, then given up
      {retry_mode::kGiveUp, 1, 1},       // given up at once
      {retry_mode::kNextInChain, 2, 2},  // the chained command follows
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.retry_mode));
    ScriptedEngine engine;
    engine.AddRead("W1", 1, 60000);
    engine.Start();
    TCommand& read = *engine.ReadCommands()[0];
    read.RetryMode = c.retry_mode;
    auto chained = std::make_unique<TCommand>();
    chained->Request = "NEXT";
    chained->Flags = command_flags::kRead;
    chained->RetryMode = retry_mode::kGiveUp;
    read.Next = std::move(chained);

    engine.ReadExecute();
    clock.Advance(201);
    engine.ReadExecute();
    EXPECT_EQ(static_cast<int>(engine.sent.size()), c.sends_after_first_timeout);
    clock.Advance(201);
    engine.ReadExecute();
    EXPECT_EQ(static_cast<int>(engine.sent.size()), c.sends_after_second_timeout);
    if (c.retry_mode == retry_mode::kSendAgain) {
      EXPECT_EQ(engine.sent[1], engine.sent[0]);
      EXPECT_EQ(read.RetryMode, retry_mode::kGiveUp);
    }
    if (c.retry_mode == retry_mode::kNextInChain) {
      EXPECT_EQ(engine.sent[1], "NEXT");
    }
  }
}

TEST_F(RunStateTest, AnAnsweredReadStoresValuesSetsQualityAndChoosesTheNextAtOnce) {
  TDLLTag& w1 = e.AddRead("W1", 1);
  TDLLTag& w2 = e.AddRead("W2", 2);
  w1.Quality = kQualityWriteFailed;
  e.Start();
  Poll();  // W1 out
  e.answering = true;
  e.reply_values[w1.Index] = TagValue::Double(7.25);
  After(5);  // W1 answered, W2 sent in the same poll
  EXPECT_EQ(w1.Value, TagValue::Double(7.25));
  EXPECT_EQ(w1.Quality, 0u);
  EXPECT_EQ(w1.ReadCount, 1u);
  EXPECT_EQ(w2.Value, TagValue::Integer(0));
  ASSERT_EQ(e.sent.size(), 2u);
  EXPECT_EQ(e.sent[1], ReadRequest("W2"));
  EXPECT_TRUE(e.LastCommOK());
}

TEST_F(RunStateTest, AWriteIsRepeatedWhileTheBudgetLastsThenGivenUpAfterThreeSends) {
  TDLLTag& sp = e.AddMedium("SP", 1, 60000);
  e.Start({.write_retries = 2});
  Poll();  // the read of SP goes out
  After(201);
  e.sent.clear();
  ASSERT_TRUE(e.WriteExecute(e.IdOf(sp), TagValue::Double(40)));
  for (int i = 0; i < 10; ++i) After(201);
  EXPECT_EQ(e.sent.size(), 3u);
  for (const std::string& request : e.sent) EXPECT_EQ(request, WriteRequest("SP"));
  EXPECT_EQ(sp.Quality, kQualityWriteFailed);
  EXPECT_EQ(sp.Value, TagValue::Integer(0));
  EXPECT_EQ(sp.WriteFailCount, 1u);
  EXPECT_TRUE(e.QueuedWrites().empty());
  EXPECT_EQ(e.CountInLog(G("：通讯写失败，执行操作=")), 1);
  // The budget was refilled when the write ran out of repeats and spent once.
  EXPECT_EQ(WriteRepeatBudget.load(), 1);

  StopWithReport();
  EXPECT_EQ(e.CountInLog(G("：写操作失败总次数= 1\r\n")), 1);
  EXPECT_EQ(e.CountInLog(G("：写通讯总次数= 3\r\n")), 1);
  EXPECT_EQ(e.CountInLog(G("：通讯写超时总次数= 3\r\n")), 1);
  EXPECT_EQ(e.CountInLog(G("：通讯写超时率= 100%\r\n")), 1);
}

TEST_F(RunStateTest, AnAnsweredWriteRefillsTheBudgetAndShowsTheWrittenValue) {
  TDLLTag& sp = e.AddMedium("SP", 1, 60000);
  e.Start({.write_retries = 3});
  Poll();
  e.answering = true;
  After(5);
  e.answering = false;
  WriteRepeatBudget.store(0);
  ASSERT_TRUE(e.WriteExecute(e.IdOf(sp), TagValue::Double(40)));
  EXPECT_EQ(sp.Value, TagValue::Integer(0));  // old value until answered
  Poll();
  EXPECT_EQ(e.RunState(), rsWriting);
  e.answering = true;
  After(5);
  EXPECT_EQ(sp.Value, TagValue::Double(40));
  EXPECT_EQ(sp.Quality, 0u);
  EXPECT_EQ(sp.WriteCount, 1u);
  EXPECT_EQ(WriteRepeatBudget.load(), 3);
  EXPECT_TRUE(e.QueuedWrites().empty());
  EXPECT_EQ(e.CurrentCommand(), nullptr);
}

TEST_F(RunStateTest, TheEleventhReadTimeoutIsASevereFailureAndSignalsTheHost) {
  const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  ASSERT_GE(fd, 0);
  e.AddRead("W1", 1, 0);
  e.Start();
  e.SetFailEvent(static_cast<uint32_t>(fd));
  Poll();
  for (int i = 0; i < 10; ++i) After(201);
  EXPECT_EQ(e.Totals().read_timeouts, 10);
  EXPECT_EQ(e.sErrEvent(), G("通讯超时错，期待设备应答"));
  uint64_t signals = 0;
  EXPECT_EQ(read(fd, &signals, sizeof(signals)), -1);  // not signalled yet

  After(201);
  EXPECT_EQ(e.sErrEvent(), G("严重故障：连续通讯失败，请检查线路和设备"));
  ASSERT_EQ(read(fd, &signals, sizeof(signals)), static_cast<ssize_t>(sizeof(signals)));
  EXPECT_EQ(signals, 1u);
  After(201);
  ASSERT_EQ(read(fd, &signals, sizeof(signals)), static_cast<ssize_t>(sizeof(signals)));
  EXPECT_EQ(signals, 1u);
  close(fd);
}

TEST_F(RunStateTest, TheHundredthReadTimeoutSwitchesLoggingOnAgain) {
  e.AddRead("W1", 1, 0);
  e.Start({.log_errors = false});
  Poll();
  for (int i = 0; i < 99; ++i) {
    e.SetEnLog(false);
    After(201);
  }
  EXPECT_FALSE(e.EnLog());
  After(201);
  EXPECT_EQ(e.Totals().read_timeouts, 100);
  EXPECT_TRUE(e.EnLog());
}

TEST_F(RunStateTest, AFailingDeviceDoesNotStarveTheOthers) {
  e.AddRead("W1", 1, 0);
  e.AddRead("W2", 2, 0);
  e.Start();
  for (int i = 0; i < 20; ++i) After(201);
  int w1 = 0;
  int w2 = 0;
  for (const std::string& r : e.sent) (r == ReadRequest("W1") ? w1 : w2)++;
  EXPECT_GE(w2, 5);
  EXPECT_GE(w1, 5);
}

TEST_F(RunStateTest, NoStepRunsWhileCommunicationIsDisabledAndThePendingEventWaits) {
  e.AddRead("W1", 1);
  e.Start();
  e.SetCommEnabled(false);
  for (int i = 0; i < 5; ++i) After(500);
  EXPECT_EQ(e.RunEvent(), opInit);
  EXPECT_EQ(e.RunState(), rsIdle);
  EXPECT_TRUE(e.sent.empty());
  e.SetCommEnabled(true);
  Poll();
  EXPECT_EQ(e.RunState(), rsReading);
  EXPECT_EQ(e.sent.size(), 1u);
}

TEST_F(RunStateTest, NothingRunsAfterStop) {
  e.AddRead("W1", 1);
  e.Start();
  e.Stop();
  EXPECT_TRUE(e.ReadExecute());
  EXPECT_TRUE(e.sent.empty());
}

// The engine's own selection handlers only move between their states; the
// device layer produces their completion events.
TEST_F(RunStateTest, HookEventsMoveBetweenTheirStates) {
  struct Case {
    uint8_t state;
    uint8_t event;
    uint8_t expected_state;
    uint8_t expected_event;
  };
  const Case cases[] = {
      {rsIdle, opInit, rsReady, opNone},
      {rsIniting, opInitACK, rsReady, opNone},
      {rsIniting, opInitNAK, rsIniting, opNone},
      // Pairs the table does not list leave the event pending, also events
      // whose codes only the log lines still use.
      {rsIdle, opReadCmd, rsIdle, opReadCmd},
      {rsReading, opWriteACK, rsReading, opWriteACK},
      {rsUnused9, opInit, rsUnused9, opInit},
      {rsReady, opResvLink1, rsReady, opResvLink1},
      {rsReady, opLink, rsReady, opLink},
      {rsSysErrorLinked, opReadACK, rsSysErrorLinked, opReadACK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.state) << " x " << int(c.event));
    ScriptedEngine engine;
    engine.Start();
    engine.EnterState(c.state, c.event);
    engine.SwitchRunStatus();
    EXPECT_EQ(engine.RunState(), c.expected_state);
    EXPECT_EQ(engine.RunEvent(), c.expected_event);
  }
}

// Every exchange state that finds no current command goes back to ready,
// and the line carries requests again: no state without an exit.
TEST_F(RunStateTest, ACompletionWithoutCurrentCommandReturnsToReady) {
  e.AddRead("W1", 1);
  e.Start();
  for (uint8_t event :
       {opReadACK, opReadNAK, opClrReadError, opWriteACK, opWriteNAK, opClrWriteError}) {
    SCOPED_TRACE(static_cast<int>(event));
    e.EnterState(event <= opClrReadError ? rsReading : rsWriting, event);
    e.SetCurrentCommand(nullptr);
    e.SwitchRunStatus();
    EXPECT_EQ(e.RunState(), rsReady);
    EXPECT_EQ(e.RunEvent(), opNone);
  }
  e.sent.clear();
  Poll();
  EXPECT_FALSE(e.sent.empty());

  StopWithReport();
  EXPECT_EQ(e.CountInLog(G("：读操作失败总次数= 1\r\n")), 1);
  EXPECT_EQ(e.CountInLog(G("：写操作失败总次数= 1\r\n")), 1);
}

TEST_F(RunStateTest, AWriteWhoseSendThrowsIsGivenUpNotDropped) {
  TDLLTag& sp = e.AddMedium("SP", 1, 60000);
  e.Start();
  Poll();
  e.answering = true;
  After(5);
  e.answering = false;
  ASSERT_TRUE(e.WriteExecute(e.IdOf(sp), TagValue::Double(9)));
  e.throw_on_send = true;
  Poll();
  EXPECT_EQ(e.RunState(), rsReady);
  EXPECT_EQ(e.RunEvent(), opNone);
  EXPECT_EQ(e.CurrentCommand(), nullptr);
  EXPECT_TRUE(e.QueuedWrites().empty());
  EXPECT_EQ(sp.Quality, kQualityWriteFailed);
  EXPECT_EQ(e.Totals().write_failures, 1u);
  EXPECT_EQ(e.CountInLog(G("：TBaseDLLObject.opWriteCmd_Exec异常！\r\n")), 1);
}

TEST_F(RunStateTest, AReadWhoseSendThrowsReturnsToReadyAndComesBackByItsInterval) {
  e.AddRead("W1", 1, 1000);
  e.Start();
  e.throw_on_send = true;
  Poll();
  EXPECT_EQ(e.RunState(), rsReady);
  EXPECT_EQ(e.CurrentCommand(), nullptr);
  EXPECT_TRUE(e.sent.empty());
  After(999);
  EXPECT_TRUE(e.sent.empty());
  After(1);
  EXPECT_EQ(e.sent.size(), 1u);
}

TEST_F(RunStateTest, TheTraceSwitchListsEveryAnsweredExchange) {
  TDLLTag& sp = e.AddMedium("SP", 1, 1000000);
  e.Start({.log_errors = false, .trace = true});
  Poll();
  e.answering = true;
  Poll();
  ASSERT_TRUE(e.WriteExecute(sp.TagID, TagValue::Double(2)));
  Poll();
  Poll();
  const std::string all = e.LogText();
  const std::string read_lines = G("：发送读标签命令= ") + ReadRequest("SP") + "\r\n";
  const std::string write_line = G("：发送写标签命令= ") + WriteRequest("SP") + "\r\n";
  const std::size_t read_at = all.find(read_lines);
  const std::size_t write_at = all.find(write_line);
  ASSERT_NE(read_at, std::string::npos);
  ASSERT_NE(write_at, std::string::npos);
  EXPECT_LT(read_at, write_at);
  EXPECT_EQ(e.CountInLog(G("：接收到应答信息= ok\r\n")), 2);
  EXPECT_EQ(e.CountInLog(G("：应答信息通过校验检查。\r\n")), 2);
}

TEST_F(RunStateTest, ExceptionLinesNeedTheErrorSwitch) {
  e.AddRead("W1", 1, 1000);
  e.Start({.log_errors = false});
  e.throw_on_send = true;
  Poll();
  EXPECT_EQ(e.CountInLog(G("异常！")), 0);
}

}  // namespace
}  // namespace tk571::testing
