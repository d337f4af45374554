// The controller's dialogues over a scripted line: device selection, polling,
// production start and stop, and the set-point menu.
#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/library_values.h"
#include "fake_controller.h"
#include "fake_line.h"
#include "protocol/selected_device.h"
#include "test_driver.h"

namespace tk571::test {
namespace {

// A driver on a line with the given controllers; the trace notes each step.
struct Bench {
  FakeClock clock;
  FakeLineOfControllers controllers;
  TestDriver driver;
  explicit Bench(std::initializer_list<int> devices = {1}) {
    ResetSelectedDevices();
    for (int d : devices) controllers.controllers[d];
    driver.line->responder = [this](const std::string& s) { return controllers.Answer(s); };
    driver.Start(devices);
    driver.SetState(rsIdle, opInit);  // as a successful start leaves it
  }
  FakeController& Controller(int d = 1) { return controllers.controllers[d]; }
  void Poll(const std::string& note) {
    driver.line->Note(note);
    driver.Poll();
  }
  std::string& Trace() { return driver.line->trace; }
  std::string Sent() const {
    std::string all;
    for (const auto& s : driver.line->sent) all += s;
    return all;
  }
};

void SetRecipe(TSetpoints& table, float base) {
  for (std::size_t m = 0; m < 4; ++m) {
    table.Final[m] = base + 100.0f * static_cast<float>(m) + 400.0f;
    table.Coarse[m] = base + 100.0f * static_cast<float>(m) + 300.0f;
    table.Fine[m] = static_cast<float>(m) + 10.0f;
  }
}

TEST(ControllerTest, ReadCycleSelectsOnceAndReadsWeightAndFinalAmounts) {
  Bench b;
  b.driver.AddTag(kTypeREAD, 1, 1);
  for (int ch = 1; ch <= 4; ++ch) b.driver.AddTag(kTypeENQ, 1, ch);
  b.driver.BuildCommands();

  b.Poll("select device 1, send READ");
  EXPECT_EQ(b.driver.State(), rsReading);
  b.Poll("weight reply; status line for the ENQ tags");
  EXPECT_EQ(b.driver.Tag(0).Value, TagValue::Double(12.5));
  EXPECT_EQ(b.driver.Tag(4).Value, TagValue::Double(4));
  b.Controller().weight_reply = "US,NT,-0000.20kg\r\n";
  b.clock.Advance(1000);
  b.Poll("READ is due again: same device, no select");
  b.Poll("net weight reply: no status line");
  EXPECT_EQ(b.driver.Tag(0).Value, TagValue::Double(-0.2));
  ExpectGolden("read_cycle", b.Trace());
}

TEST(ControllerTest, SelectRequestCarriesTwoDigitsOfTheDevice) {
  for (int device : {0, 1, 12, 99}) {
    Bench b{device};
    b.driver.AddTag(kTypeREAD, device, 1);
    b.driver.BuildCommands();
    b.Poll("select");
    ASSERT_FALSE(b.driver.line->sent.empty());
    char digits[3];
    std::snprintf(digits, sizeof(digits), "%02d", device);
    EXPECT_EQ(b.driver.line->sent[0], std::string("\x05ID") + digits + "\r\n");
  }
  Bench b{1};
  b.driver.AddTag(kTypeREAD, 1, 1);
  b.driver.BuildCommands();
  b.Poll("select");
  EXPECT_EQ(Hex(b.driver.line->sent[0]), "05 49 44 30 31 0D 0A");
}

TEST(ControllerTest, WrongOrMissingAcknowledgeEndsInInitNakAfterTheSelectTimeout) {
  const std::string answers[] = {
      "\x06"
      "02\r\n",
      "", "01\r\n"};
  for (const std::string& answer : answers) {
    SCOPED_TRACE(Hex(answer));
    Bench b;
    b.driver.line->responder = [&](const std::string&) { return answer; };
    b.driver.AddTag(kTypeREAD, 1, 1);
    b.driver.BuildCommands();
    b.Poll("select");
    EXPECT_EQ(b.driver.State(), rsIniting);
    b.clock.Advance(TDLLObject::kSelectTimeoutMs);
    b.Poll("no ACK 01 yet, not late yet");
    EXPECT_EQ(b.driver.State(), rsIniting);
    b.clock.Advance(1);
    b.driver.GetRunEvent();
    EXPECT_EQ(b.driver.Event(), opInitNAK);
  }
}

TEST(ControllerTest, AfterAFailedSelectTheChosenWriteIsStillSent) {
  Bench b{1, 2};
  b.driver.AddTag(kTypeREAD, 1, 1);
  TDLLTag& start2 = b.driver.AddTag(kTypeSTART_UP, 2, 1, 1);
  b.driver.BuildCommands();
  b.controllers.controllers.erase(2);  // device 2 has gone silent
  WriteRepeatBudget = kInitialWriteRepeatBudget;
  ASSERT_TRUE(b.driver.Write(start2, TagValue::Boolean(true)));

  b.Poll("write to device 2 chosen: select 02");
  ASSERT_EQ(b.driver.State(), rsIniting);
  TCommand* chosen = b.driver.Current();
  b.clock.Advance(101);
  b.Poll("no ACK 02: back to idle, the write stays chosen");
  EXPECT_EQ(b.driver.State(), rsIdle);
  EXPECT_EQ(b.driver.Event(), opInit);
  EXPECT_EQ(b.driver.Current(), chosen);
  b.Poll("the same write goes out without a new select");
  EXPECT_EQ(b.driver.State(), rsWriting);
  EXPECT_EQ(b.driver.line->sent.back(), "ST\r\n");
  // With a repeat budget of 2 the write goes out three times in all.
  b.clock.Advance(201);
  b.Poll("no answer: sent again");
  b.clock.Advance(201);
  b.Poll("no answer: sent a last time");
  EXPECT_EQ(b.driver.WriteFails(), 0u);
  b.clock.Advance(201);
  b.Poll("no answer again: given up");
  EXPECT_EQ(b.driver.WriteFails(), 1u);
  EXPECT_EQ(start2.Quality, 0x4000000u);
  ExpectGolden("failed_select_write", b.Trace());
}

TEST(ControllerTest, StartAndAbortProduction) {
  Bench b;
  TDLLTag& start = b.driver.AddTag(kTypeSTART_UP, 1, 1, 1);
  b.driver.BuildCommands();
  ASSERT_TRUE(b.driver.Write(start, TagValue::Boolean(true)));
  b.Poll("select, ST");
  b.Poll("YES; back to the main display");
  EXPECT_EQ(start.Value, TagValue::Boolean(true));
  EXPECT_EQ(start.Quality, 0u);
  b.Controller().refuse_start = true;
  ASSERT_TRUE(b.driver.Write(start, TagValue::Boolean(false)));
  b.Poll("ABO");
  b.Poll("YES; back to the main display");
  EXPECT_EQ(start.Value, TagValue::Boolean(false));
  ASSERT_TRUE(b.driver.Write(start, TagValue::Boolean(true)));
  b.Poll("ST");
  b.Poll("NO ? is an answer too");
  EXPECT_EQ(start.Value, TagValue::Boolean(true));
  ExpectGolden("start_abort", b.Trace());
}

// A failure inside an operation is logged with the class whose code ran,
// which for an operation the controller took over from a generic class is
// that class; the driver then goes on polling.
TEST(ControllerTest, ExceptionLinesNameTheClassWhoseCodeRan) {
  struct Case {
    int32_t type;
    bool write;
    std::string fails;  // the request whose sending fails
    bool controller_answers;
    const char* line;
  };
  const Case cases[] = {
      {kTypeREAD, false, "\x05ID01\r\n", true, "：TDLLObject.opInit_Exec异常！\r\n"},
      {kTypeREAD, false, "READ\r\n", true, "：TCustomDLLObject.RealComm异常！\r\n"},
      {kTypeENQ, false, "\x06\r\n", true, "：TDLLObject.GetStatusLine异常！\r\n"},
      {kTypeSTART_UP, true, "R\r\n", true, "：TDLLObject.opWriteACK_Exec异常！\r\n"},
      // A set-point reply without its label sends the controller back to
      // its main display from the reply check.
      {kTypeM_MEDIUM, false, "R\r\n", false, "：TCustomDLLObject.CheckResult异常！\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Hex(c.fails));
    Bench b;
    b.driver.line->responder = [&](const std::string& sent) -> std::string {
      if (sent == c.fails) throw std::runtime_error("line gone");
      if (c.controller_answers || sent[0] == TDLLObject::kEnq) return b.controllers.Answer(sent);
      return "M9 NONE\r\n";
    };
    // A weight keeps the line busy after the failure.
    b.driver.AddTag(kTypeREAD, 1, 1);
    TDLLTag& tag = c.type == kTypeREAD ? b.driver.Tag(0) : b.driver.AddTag(c.type, 1, 1, c.write);
    b.driver.BuildCommands();
    if (c.write) {
      ASSERT_TRUE(b.driver.Write(tag, TagValue::Boolean(true)));
    }
    for (int poll = 0; poll < 4; ++poll) {
      b.clock.Advance(TDLLObject::kSelectTimeoutMs + 1);
      b.Poll("poll");
    }
    EXPECT_NE(b.driver.log.find(Gbk(c.line)), std::string::npos) << b.driver.log;
    const std::size_t sent = b.driver.line->sent.size();
    b.clock.Advance(5000);
    b.Poll("still polling");
    b.Poll("still polling");
    EXPECT_GT(b.driver.line->sent.size(), sent) << b.Trace();
  }
}

TEST(ControllerTest, LoadRecipeDialogue) {
  Bench b;
  TDLLTag& final1 = b.driver.AddTag(kTypeM_FINAL, 1, 1);
  TDLLTag& final3 = b.driver.AddTag(kTypeM_FINAL, 1, 3);
  TDLLTag& load = b.driver.AddTag(kTypeLOAD_SETM, 1, 1, 1);
  b.driver.BuildCommands();
  SetRecipe(b.driver.MutableSetpoints(1), 0);
  EXPECT_FALSE(b.driver.Write(final1, TagValue::Double(412.3)));
  EXPECT_FALSE(b.driver.Write(final3, TagValue::Double(650)));
  EXPECT_TRUE(b.driver.line->sent.empty());
  ASSERT_TRUE(b.driver.Write(load, TagValue::Boolean(true)));

  b.Poll("select; R, SET, twelve items with N; then the request R");
  EXPECT_EQ(b.driver.State(), rsWriting);
  b.Poll("YES: back to the main display");
  EXPECT_EQ(load.Quality, 0u);
  EXPECT_EQ(load.Value, TagValue::Boolean(true));
  EXPECT_EQ(b.Controller().setpoints[0], "0412");
  EXPECT_EQ(b.Controller().setpoints[6], "0650");
  EXPECT_EQ(b.Controller().setpoints[11], "0013");
  EXPECT_NE(b.Sent().find("412.299987792969\r\n"), std::string::npos);
  ExpectGolden("load_recipe", b.Trace());
}

TEST(ControllerTest, ValueTextIsTheSingleWithFifteenDigits) {
  Bench b;
  TDLLTag& load = b.driver.AddTag(kTypeLOAD_SETM, 1, 1, 1);
  TSetpoints& table = b.driver.MutableSetpoints(1);
  SetRecipe(table, 0);
  table.Final[0] = 12.3f;
  table.Coarse[0] = 11.0f;
  table.Fine[0] = 0.5f;
  b.driver.BuildCommands();
  ASSERT_TRUE(b.driver.Write(load, TagValue::Boolean(true)));
  b.Poll("load");
  EXPECT_NE(b.Sent().find("\r\n12.3000001907349\r\n"), std::string::npos);
  EXPECT_NE(b.Sent().find("\r\n0.5\r\n"), std::string::npos);
  EXPECT_NE(b.Sent().find("\r\n11\r\n"), std::string::npos);
}

TEST(ControllerTest, RefusedRecipeIsGivenUpAndPollingGoesOn) {
  Bench b;
  TDLLTag& weight = b.driver.AddTag(kTypeREAD, 1, 1);
  TDLLTag& load = b.driver.AddTag(kTypeLOAD_SETM, 1, 1, 1);
  b.driver.BuildCommands();
  TSetpoints& table = b.driver.MutableSetpoints(1);
  SetRecipe(table, 0);
  table.Final[1] = 100;  // material 2: FINAL 100, COARSE 100, FINE 10
  table.Coarse[1] = 100;
  table.Fine[1] = 10;
  b.Poll("select, READ");
  b.Poll("weight");
  ASSERT_EQ(weight.Value, TagValue::Double(12.5));
  const std::size_t before = b.driver.line->sent.size();

  ASSERT_TRUE(b.driver.Write(load, TagValue::Boolean(true)));
  b.Poll("order check fails: nothing sent, dispatched once more");
  b.Poll("fails again: given up");
  EXPECT_EQ(b.driver.line->sent.size(), before);
  EXPECT_EQ(b.driver.WriteFails(), 1u);
  EXPECT_EQ(load.Quality, 0x4000000u);
  EXPECT_EQ(load.Value, TagValue::Boolean(false));

  b.Controller().weight_reply = "ST,GS,+0020.00kg\r\n";
  b.clock.Advance(1000);
  b.Poll("READ is due");
  b.Poll("weight");
  EXPECT_EQ(weight.Value, TagValue::Double(20));

  table.Coarse[1] = 90;
  ASSERT_TRUE(b.driver.Write(load, TagValue::Boolean(true)));
  b.Poll("valid recipe: dialogue, R");
  b.Poll("YES");
  EXPECT_EQ(load.Quality, 0u);
  EXPECT_EQ(load.Value, TagValue::Boolean(true));
  EXPECT_EQ(b.Controller().setpoints[4], "0090");
}

TEST(ControllerTest, UnconfirmedValueEndsTheDialogueAfterSixAttempts) {
  Bench b;
  TDLLTag& load = b.driver.AddTag(kTypeLOAD_SETM, 1, 1, 1);
  b.driver.BuildCommands();
  SetRecipe(b.driver.MutableSetpoints(1), 0);
  b.Controller().ignore_typed = 1000;
  ASSERT_TRUE(b.driver.Write(load, TagValue::Boolean(true)));
  b.Poll("M1 FINAL is never echoed");
  const auto& sent = b.driver.line->sent;
  const std::vector<std::string> expected = {"\x05ID01\r\n", "R\r\n",   "SET\r\n", "400\r\n",
                                             "400\r\n",      "400\r\n", "400\r\n", "400\r\n",
                                             "400\r\n",      "R\r\n"};
  EXPECT_EQ(sent, expected);
  EXPECT_EQ(b.driver.State(), rsReady);
  EXPECT_EQ(b.driver.Event(), opWriteCmd);
}

TEST(ControllerTest, PromptsThatNameNoTableEntryFailTheItem) {
  struct Case {
    const char* prompt;
    bool logged;
  };
  const Case cases[] = {
      {"M0 FINAL  0500\r\n", true},
      {"M5 FINAL  0500\r\n", true},
      {"Mx FINAL  0500\r\n", true},
      {"M", true},
      {"", true},
      {"M1 TARE   0000\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prompt);
    Bench b;
    b.driver.AddTag(kTypeLOAD_SETM, 1, 1, 1);
    SetRecipe(b.driver.MutableSetpoints(1), 0);
    const TSetpoints before = b.driver.Setpoints(1);
    b.Controller().bad_prompt_item = 0;
    b.Controller().bad_prompt = c.prompt;
    b.controllers.selected = 1;
    TCommand command;
    command.TypeIndex = kTypeLOAD_SETM;
    command.DevNo = 1;
    b.driver.SetCurrent(&command);
    b.driver.log.clear();
    EXPECT_FALSE(b.driver.SendSetpoints());
    EXPECT_EQ(b.driver.line->sent.back(), "SET\r\n");  // no value sent
    EXPECT_EQ(b.driver.log.find(Gbk("：TDLLObject.SendSetpointItem异常！")) != std::string::npos,
              c.logged);
    // A read-out that misses an item fails; the other items are read.
    command.TypeIndex = kTypeREAD_SETM;
    EXPECT_FALSE(b.driver.ReadSetpoints());
    const TSetpoints& after = b.driver.Setpoints(1);
    EXPECT_EQ(after.Final[0], before.Final[0]);
    EXPECT_EQ(after.Coarse[0], 400.0f);  // the next items read as usual
    b.driver.SetCurrent(nullptr);
  }
}

TEST(ControllerTest, ReadRecipeFillsTheTableAndTheTagsOfThatDeviceOnly) {
  Bench b{1, 2};
  TDLLTag& coarse1 = b.driver.AddTag(kTypeM_COARSE, 1, 1);
  TDLLTag& fine4 = b.driver.AddTag(kTypeM_FINE, 1, 4);
  TDLLTag& other = b.driver.AddTag(kTypeM_COARSE, 2, 1);
  TDLLTag& read = b.driver.AddTag(kTypeREAD_SETM, 1, 1, 1);
  other.Value = TagValue::Double(-7);
  b.Controller(1).setpoints[1] = "0432";
  b.Controller(1).setpoints[10] = " 12 ";
  b.Controller(1).setpoints[11] = "  7 ";
  b.driver.BuildCommands();
  ASSERT_TRUE(b.driver.Write(read, TagValue::Boolean(true)));
  b.Poll("select, R, SET, twelve prompts read with N; then the request R");
  b.Poll("YES");
  EXPECT_EQ(coarse1.Value, TagValue::Double(432));
  EXPECT_EQ(fine4.Value, TagValue::Double(7));
  EXPECT_EQ(b.driver.Setpoints(1).Coarse[3], 12.0f);
  EXPECT_EQ(other.Value, TagValue::Double(-7));
  EXPECT_EQ(b.driver.Setpoints(2).Coarse[0], 0.0f);
  EXPECT_EQ(read.Quality, 0u);
  ExpectGolden("read_recipe", b.Trace());
}

// A read-back that could not read every item is a failed write: the
// items read show their values, the others keep theirs, and the log names
// what is missing.
TEST(ControllerTest, ReadRecipeWithAnUnreadableItemFails) {
  Bench b;
  TDLLTag& coarse1 = b.driver.AddTag(kTypeM_COARSE, 1, 1);
  TDLLTag& fine4 = b.driver.AddTag(kTypeM_FINE, 1, 4);
  TDLLTag& read = b.driver.AddTag(kTypeREAD_SETM, 1, 1, 1);
  fine4.Value = TagValue::Double(-3);
  b.Controller().setpoints[1] = "0432";
  b.Controller().setpoints[11] = "0x1?";
  b.driver.BuildCommands();
  ASSERT_TRUE(b.driver.Write(read, TagValue::Boolean(true)));
  for (int i = 0; i < 6 && read.Quality == 0; ++i) b.Poll("read-out, once more, given up");
  EXPECT_EQ(read.Quality, kQualityWriteFailed);
  EXPECT_EQ(coarse1.Value, TagValue::Double(432));
  EXPECT_EQ(fine4.Value, TagValue::Double(-3));
  EXPECT_NE(b.driver.log.find(Gbk("：读取配方未读出的项目=M4 FINE")), std::string::npos);
}

TEST(ControllerTest, ShortPromptStoresNothing) {
  Bench b;
  SetRecipe(b.driver.MutableSetpoints(1), 0);
  b.Controller().bad_prompt_item = 0;
  b.Controller().bad_prompt = "M1 FINAL 05\r\n";
  b.controllers.selected = 1;
  TCommand command;
  command.TypeIndex = kTypeREAD_SETM;
  command.DevNo = 1;
  b.driver.SetCurrent(&command);
  EXPECT_FALSE(b.driver.ReadSetpoints());
  EXPECT_EQ(b.driver.Setpoints(1).Final[0], 400.0f);
  EXPECT_NE(b.driver.log.find(Gbk("：TDLLObject.ReadSetpointItem异常！")), std::string::npos);
  b.driver.SetCurrent(nullptr);
}

TEST(ControllerTest, RecipesOfTwoControllersStayApart) {
  Bench b{1, 2};
  TDLLTag& load1 = b.driver.AddTag(kTypeLOAD_SETM, 1, 1, 1);
  TDLLTag& load2 = b.driver.AddTag(kTypeLOAD_SETM, 2, 1, 1);
  b.driver.BuildCommands();
  SetRecipe(b.driver.MutableSetpoints(1), 1000);
  SetRecipe(b.driver.MutableSetpoints(2), 2000);
  ASSERT_TRUE(b.driver.Write(load1, TagValue::Boolean(true)));
  b.Poll("device 1 recipe");
  b.Poll("YES");
  ASSERT_TRUE(b.driver.Write(load2, TagValue::Boolean(true)));
  b.Poll("select 02, device 2 recipe");
  b.Poll("YES");
  EXPECT_EQ(b.Controller(1).setpoints[0], "1400");
  EXPECT_EQ(b.Controller(2).setpoints[0], "2400");
  EXPECT_EQ(b.Controller(2).setpoints[9], "2700");
}

TEST(ControllerTest, EachLineKeepsItsOwnSelectedDevice) {
  ResetSelectedDevices();
  FakeClock clock;
  FakeLineOfControllers bus_a, bus_b;
  bus_a.controllers[1];
  bus_b.controllers[1];
  auto line_a = std::make_shared<LineState>();
  auto line_b = std::make_shared<LineState>();
  line_a->key = "/dev/ttyA";
  line_b->key = "/dev/ttyB";
  line_a->responder = [&](const std::string& s) { return bus_a.Answer(s); };
  line_b->responder = [&](const std::string& s) { return bus_b.Answer(s); };
  TestDriver a(line_a), b(line_b);
  for (TestDriver* d : {&a, &b}) {
    d->Start();
    d->AddTag(kTypeREAD, 1, 1);
    d->BuildCommands();
    d->SetState(rsIdle, opInit);
    d->Poll();
  }
  EXPECT_EQ(line_a->sent.front(), "\x05ID01\r\n");
  EXPECT_EQ(line_b->sent.front(), "\x05ID01\r\n");
  EXPECT_EQ(SelectedDevice("/dev/ttyA"), 1);
}

TEST(ControllerTest, StartAndStopOfTheProtocolLayer) {
  FakeClock clock;
  TestDriver driver;
  EXPECT_TRUE(driver.Start({1}, /*debug=*/true));
  EXPECT_NE(driver.log.find(Gbk("：通讯最大允许超时时间=200\r\n")), std::string::npos);
  EXPECT_NE(driver.log.find(Gbk("：Com1OPEN\r\n")), std::string::npos);
  EXPECT_EQ(driver.sErrEvent(), "Com1OPEN");
  driver.AddTag(kTypeREAD, 1, 1);
  driver.AddTag(kTypeENQ, 1, 1);
  driver.AddTag(kTypeSTART_UP, 1, 1, 1);
  driver.BuildCommands();
  driver.log.clear();
  driver.Stop();
  EXPECT_NE(driver.log.find(Gbk("]生成读标签命令串=READ\r\n")), std::string::npos);
  EXPECT_NE(driver.log.find(Gbk("：有效标签个数共计=3\r\n")), std::string::npos);
  EXPECT_NE(driver.log.find(Gbk("：包含的通讯报总计=1条\r\n")), std::string::npos);
  EXPECT_NE(driver.log.find(Gbk("：最长通讯报包含的标签个数=2个\r\n")), std::string::npos);
  EXPECT_EQ(driver.line->closes, 1);
  EXPECT_EQ(driver.Line(), nullptr);

  driver.log.clear();
  driver.Stop();  // not started: nothing to list, nothing to release
  EXPECT_EQ(driver.log, "");
  EXPECT_EQ(driver.line->closes, 1);

  EXPECT_TRUE(driver.Start());
  EXPECT_NE(driver.Line(), nullptr);
  EXPECT_EQ(driver.line->opens, 2);
}

TEST(ControllerTest, PortThatDoesNotOpenFailsTheStart) {
  FakeClock clock;
  TestDriver driver;
  driver.line->open_result = false;
  EXPECT_FALSE(driver.Start());
  EXPECT_EQ(driver.sErrEvent(), "Com1BUSY");
}

}  // namespace
}  // namespace tk571::test
