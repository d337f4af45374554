// How replies are judged and what they put into the tags.
#include <gtest/gtest.h>

#include "fake_controller.h"
#include "fake_line.h"
#include "test_driver.h"

namespace tk571::test {
namespace {

struct AcceptCase {
  int32_t type;
  std::string reply;
  bool accepted;
};

TEST(ReplyAnalysisTest, AcceptanceByCommandType) {
  const AcceptCase cases[] = {
      {kTypeREAD, "ST,GS,+0012.50kg\r\n", true},
      {kTypeREAD, "US,NT,-0000.20kg\r\n", true},
      {kTypeREAD, "OL,NT\r\n", false},                // no value field
      {kTypeREAD, "ST,GS,+0012.50kg", false},         // no CR LF
      {kTypeREAD, "\r\nST,GS,+0012.50kg", false},     // CR LF only in front
      {kTypeREAD, "\xffST,GS,+0012.50kg\r\n", true},  // a turnaround glitch in front
      {kTypeREAD, "YES\r\nST,GS,+0012.50kg\r\n", true},
      {kTypeREAD, "OL,??,+0000.00kg\r\n", false},  // no weight kind
      {kTypeREAD, "??,GS,+0000.00kg\r\n", false},  // no state
      {kTypeENQ, "ST,GS,+0012.50kg\r\n", false},   // an ENQ command is never accepted
      {kTypeSTART_UP, "YES\r\n", true},
      {kTypeSTART_UP, "NO ?\r\n", true},
      {kTypeSTART_UP, "NO\r\n", false},
      {kTypeSTART_UP, "YES", false},
      {kTypeSTART_UP, "\x7fYES\r\n", true},
      {kTypeLOAD_SETM, "YES\r\n", true},
      {kTypeLOAD_SETM, "?\r\n", false},
      {kTypeREAD_SETM, "YES\r\n", true},
      {kTypeREAD_SETM, "?\r\n", false},
  };
  for (const AcceptCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.type << " " << Hex(c.reply));
    FakeClock clock;
    TestDriver driver;
    driver.Start();
    TCommand command;
    command.TypeIndex = c.type;
    driver.SetCurrent(&command);
    EXPECT_EQ(driver.CheckResult(c.reply), c.accepted);
    driver.SetCurrent(nullptr);
  }
}

TEST(ReplyAnalysisTest, MediumReplyNeedsItsLabelAndEchoElseTheMenuIsLeft) {
  FakeClock clock;
  TestDriver driver;
  driver.Start();
  TDLLTag& medium = driver.AddTag(kTypeM_MEDIUM, 1, 3);
  ASSERT_TRUE(driver.Write(medium, TagValue::Double(125)));
  TCommand& command = *driver.Queue().front();
  driver.SetCurrent(&command);
  EXPECT_TRUE(driver.CheckResult("M3 MEDIUM 125\r\n"));
  EXPECT_TRUE(driver.line->sent.empty());
  EXPECT_FALSE(driver.CheckResult("M2 MEDIUM 125\r\n"));
  ASSERT_EQ(driver.line->sent.size(), 1u);
  EXPECT_EQ(Hex(driver.line->sent[0]), "52 0D 0A");
  driver.SetCurrent(nullptr);
}

struct ValueCase {
  std::string reply;
  uint8_t kind;
  TagValue before;
  TagValue after;
  // False: the reply fails its exchange and the tag keeps its value.
  bool answered = true;
};

TEST(ReplyAnalysisTest, WeightReplyValues) {
  const ValueCase cases[] = {
      {"ST,GS,+0012.50kg\r\n", 0, TagValue::Integer(0), TagValue::Double(12.5)},
      {"US,NT,-0000.20kg\r\n", 0, TagValue::Integer(0), TagValue::Double(-0.2)},
      {"ST,GS,  12 .5 kg\r\n", 0, TagValue::Integer(0), TagValue::Double(12.5)},
      {"ST,GS,+001E+01kg\r\n", 0, TagValue::Integer(0), TagValue::Double(10)},
      {"\xffST,GS,+0012.50kg\r\n", 0, TagValue::Integer(0), TagValue::Double(12.5)},  // noise
      {"YES\r\nST,GS,+0012.50kg\r\n", 0, TagValue::Integer(0), TagValue::Double(12.5)},
      {"ST,GS,OVERLOADkg\r\n", 0, TagValue::Double(7), TagValue::Double(7), false},
      {"ST,GS,12\r\n", 0, TagValue::Double(7), TagValue::Double(7), false},  // short field
      {"ST,GS\r\n", 0, TagValue::Double(7), TagValue::Double(7), false},     // no field at all
      {"ST,GS,+0001.90kg\r\n", 1, TagValue::Boolean(false), TagValue::Boolean(true)},
      {"ST,GS,+0002.00kg\r\n", 1, TagValue::Boolean(true), TagValue::Boolean(false)},
      {"ST,GS,????????kg\r\n", 1, TagValue::Boolean(true), TagValue::Boolean(true), false},
      {"ST,GS,+0012.50kg\r\n", 2, TagValue::Text(""), TagValue::Text("ST,GS,+0012.50kg")},
      {"\x13ST,GS,+0012.50kg\r\n", 2, TagValue::Text(""), TagValue::Text("ST,GS,+0012.50kg")},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(Hex(c.reply));
    FakeClock clock;
    TestDriver driver;
    driver.Start();
    TDLLTag& tag = driver.AddTag(kTypeREAD, 1, 1, c.kind);
    tag.Value = c.before;
    driver.BuildCommands();
    TCommand& command = *driver.Reads()[0];
    driver.SetCurrent(&command);
    driver.line->Deliver(c.reply);
    EXPECT_EQ(driver.GetResult(), c.answered);
    EXPECT_EQ(command.Response, c.reply);
    EXPECT_EQ(tag.Value, c.after);
    EXPECT_EQ(tag.UpdateTime != 0.0, c.answered);
    driver.SetCurrent(nullptr);
  }
}

// READ1:1 with ENQ1:1..4 in one command, as the tag editor would list them.
struct EnqFixture {
  FakeClock clock;
  FakeController controller;
  TestDriver driver;
  EnqFixture() {
    driver.line->responder = [this](const std::string& sent) { return controller.Answer(sent); };
    driver.Start();
    driver.AddTag(kTypeREAD, 1, 1);
    for (int ch = 1; ch <= 4; ++ch) driver.AddTag(kTypeENQ, 1, ch).Value = TagValue::Double(-1);
    driver.BuildCommands();
  }
  bool Exchange(const std::string& reply) {
    TCommand& command = *driver.Reads()[0];
    driver.SetCurrent(&command);
    driver.line->Deliver(reply);
    const bool result = driver.GetResult();
    driver.SetCurrent(nullptr);
    return result;
  }
  TagValue Enq(int ch) { return driver.Tag(ch).Value; }
};

TEST(ReplyAnalysisTest, GrossWeightFetchesTheStatusLineOnceForAllMaterials) {
  EnqFixture f;
  f.controller.finals = {"+0001.25", "  -2.5  ", "+0003.00", "+0004.75"};
  ASSERT_TRUE(f.Exchange("ST,GS,+0012.50kg\r\n"));
  ASSERT_EQ(f.driver.line->sent.size(), 1u);
  EXPECT_EQ(Hex(f.driver.line->sent[0]), "06 0D 0A");
  EXPECT_EQ(f.driver.Tag(0).Value, TagValue::Double(12.5));
  EXPECT_EQ(f.Enq(1), TagValue::Double(1.25));
  EXPECT_EQ(f.Enq(2), TagValue::Double(-2.5));
  EXPECT_EQ(f.Enq(3), TagValue::Double(3));
  EXPECT_EQ(f.Enq(4), TagValue::Double(4.75));
}

TEST(ReplyAnalysisTest, NetWeightAsksNoStatusLine) {
  EnqFixture f;
  ASSERT_TRUE(f.Exchange("ST,NT,+0012.50kg\r\n"));
  EXPECT_TRUE(f.driver.line->sent.empty());
  EXPECT_EQ(f.Enq(1), TagValue::Double(-1));
  EXPECT_NE(f.driver.Tag(1).UpdateTime, 0.0);
}

TEST(ReplyAnalysisTest, StatusLinesThatAreNotExactlyTheFourFieldsAreDiscarded) {
  const std::string good =
      "M1,ST,+0001.00kg, M2,ST,+0002.00kg, M3,ST,+0003.00kg, M4,ST,+0004.00kg\r\n";
  ASSERT_EQ(good.size(), 72u);
  std::string no_m4 = good;
  no_m4[55] = 'X';
  std::string no_crlf = good;
  no_crlf[71] = ' ';
  // Without its status line the exchange fails: the final amounts keep their
  // values, and the weight read before the query is a true value.
  const std::string cases[] = {good.substr(0, 71), no_m4, no_crlf, ""};
  for (const std::string& line : cases) {
    SCOPED_TRACE(Hex(line));
    EnqFixture f;
    f.driver.line->responder = [&](const std::string&) { return line; };
    EXPECT_FALSE(f.Exchange("ST,GS,+0012.50kg\r\n"));
    for (int ch = 1; ch <= 4; ++ch) EXPECT_EQ(f.Enq(ch), TagValue::Double(-1));
    EXPECT_EQ(f.driver.Tag(0).Value, TagValue::Double(12.5));
  }
  // Noise around a whole status line is not the line's fault.
  for (const std::string& line : {"\xff" + good, good + "\r\n", "YES\r\n" + good}) {
    SCOPED_TRACE(Hex(line));
    EnqFixture f;
    f.driver.line->responder = [&](const std::string&) { return line; };
    EXPECT_TRUE(f.Exchange("ST,GS,+0012.50kg\r\n"));
    EXPECT_EQ(f.Enq(4), TagValue::Double(4));
  }
}

TEST(ReplyAnalysisTest, EnqTagBeyondTheFourFieldsReadsNothing) {
  EnqFixture f;
  f.driver.Tag(4).Channel = 9;  // field 9 would lie past the status line
  f.driver.Tag(3).Channel = -5;
  ASSERT_TRUE(f.Exchange("ST,GS,+0012.50kg\r\n"));
  EXPECT_EQ(f.Enq(4), TagValue::Double(-1));
  EXPECT_EQ(f.Enq(3), TagValue::Double(-1));
  EXPECT_EQ(f.Enq(1), TagValue::Double(1));
}

}  // namespace
}  // namespace tk571::test
