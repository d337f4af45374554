// Requests as they go on the wire, and how tags are grouped into commands.
#include <gtest/gtest.h>

#include "fake_line.h"
#include "test_driver.h"

namespace tk571::test {
namespace {

struct WriteCase {
  const char* what;
  int32_t type;
  uint8_t kind;
  TagValue value;
  std::string wire;  // hex
};

TEST(RequestFramingTest, WriteRequestsOnTheWire) {
  const WriteCase cases[] = {
      {"start production", kTypeSTART_UP, 1, TagValue::Boolean(true), "53 54 0D 0A"},
      {"abort production", kTypeSTART_UP, 1, TagValue::Boolean(false), "41 42 4F 0D 0A"},
      {"start from an analog tag", kTypeSTART_UP, 0, TagValue::Double(1.0), "53 54 0D 0A"},
      {"medium, fraction rounded", kTypeM_MEDIUM, 0, TagValue::Double(125.4), "31 32 35 0D 0A"},
      {"medium, negative", kTypeM_MEDIUM, 0, TagValue::Double(-3), "2D 33 0D 0A"},
      {"medium, half to even", kTypeM_MEDIUM, 0, TagValue::Double(2.5), "32 0D 0A"},
      {"load recipe", kTypeLOAD_SETM, 1, TagValue::Boolean(true), "52 0D 0A"},
      {"read recipe", kTypeREAD_SETM, 1, TagValue::Boolean(true), "52 0D 0A"},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.what);
    FakeClock clock;
    TestDriver driver;
    driver.Start();
    TDLLTag& tag = driver.AddTag(c.type, 1, 1, c.kind);
    ASSERT_TRUE(driver.Write(tag, c.value));
    ASSERT_EQ(driver.Queue().size(), 1u);
    const TCommand& command = *driver.Queue().front();
    EXPECT_EQ(Hex(command.Request), c.wire);
    EXPECT_EQ(command.Flags, 11);
    EXPECT_EQ(command.RetryMode, 1);
    EXPECT_EQ(command.Sealed, 1);
    EXPECT_TRUE(command.IsWrite);
    EXPECT_EQ(command.Answer, "");
  }
}

TEST(RequestFramingTest, WriteValueIsQueuedAsTheRoundedInteger) {
  FakeClock clock;
  TestDriver driver;
  driver.Start();
  TDLLTag& medium = driver.AddTag(kTypeM_MEDIUM, 1, 2);
  ASSERT_TRUE(driver.Write(medium, TagValue::Double(125.6)));
  const TCommand& command = *driver.Queue().front();
  ASSERT_EQ(command.Values.size(), 1u);
  EXPECT_TRUE(command.Values[0].IsInteger());
  EXPECT_EQ(command.Values[0], TagValue::Integer(126));
  EXPECT_EQ(command.RawValue, 126);
  // The tag shows its old value until the write is answered.
  EXPECT_EQ(medium.Value, TagValue::Integer(0));
}

TEST(RequestFramingTest, ValueOutsideTheIntegerRangeSendsNoValue) {
  FakeClock clock;
  TestDriver driver;
  driver.Start();
  TDLLTag& medium = driver.AddTag(kTypeM_MEDIUM, 1, 1);
  ASSERT_TRUE(driver.Write(medium, TagValue::Double(1e12)));
  EXPECT_EQ(Hex(driver.Queue().front()->Request), "0D 0A");
  EXPECT_NE(driver.log.find(Gbk("：TCustomDLLObject.CreateValueStr异常！")), std::string::npos);
}

TEST(RequestFramingTest, ReadTagsShareOneCommandPerRequestText) {
  FakeClock clock;
  TestDriver driver;
  driver.Start({1, 2});
  driver.AddTag(kTypeREAD, 1, 1, 0, 1000);
  for (int ch = 1; ch <= 4; ++ch) driver.AddTag(kTypeENQ, 1, ch, 0, 500);
  driver.AddTag(kTypeREAD, 2, 1, 0, 1000);
  driver.AddTag(kTypeM_MEDIUM, 1, 3, 0, 1000);
  driver.AddTag(kTypeM_FINAL, 1, 1);       // never a command
  driver.AddTag(kTypeLOAD_SETM, 1, 1, 1);  // not readable
  driver.BuildCommands();

  auto& reads = driver.Reads();
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_EQ(Hex(reads[0]->Request), "52 45 41 44 0D 0A");
  EXPECT_EQ(reads[0]->TypeName, "READ");
  EXPECT_EQ(reads[0]->Indexes, (TIndexArray{0, 1, 2, 3, 4}));
  EXPECT_EQ(reads[0]->Interval, 500);
  EXPECT_EQ(reads[0]->Answer, "1");
  EXPECT_EQ(reads[0]->StartAddr, 1);
  EXPECT_EQ(reads[1]->DevNo, 2);
  EXPECT_EQ(reads[1]->Indexes, (TIndexArray{5}));
  EXPECT_EQ(Hex(reads[2]->Request), "0D 0A");
  for (const auto& command : reads) {
    EXPECT_EQ(command->Sealed, 1);
    EXPECT_EQ(command->Flags, 2);
    EXPECT_EQ(command->RetryMode, 2);
    EXPECT_FALSE(command->IsWrite);
  }
}

// An ENQ command is never answered: whatever the host's order, ENQ tags
// travel in their device's READ command.
TEST(RequestFramingTest, AnEnqTagFirstStillJoinsTheReadCommand) {
  FakeClock clock;
  TestDriver driver;
  driver.Start();
  driver.AddTag(kTypeENQ, 1, 2);
  driver.AddTag(kTypeREAD, 1, 1);
  driver.BuildCommands();
  ASSERT_EQ(driver.Reads().size(), 1u);
  EXPECT_EQ(driver.Reads()[0]->TypeIndex, kTypeREAD);
  EXPECT_EQ(driver.Reads()[0]->Indexes, (TIndexArray{1, 0}));
}

struct AddressCase {
  int32_t type;
  int32_t channel;
  int32_t start, end, length;
};

TEST(RequestFramingTest, AddressArithmeticOfUnsealedCommands) {
  const AddressCase cases[] = {
      {kTypeENQ, 1, 0, 3, 4},  {kTypeENQ, 3, 0, 3, 4},    {kTypeENQ, 4, 4, 7, 4},
      {kTypeREAD, 1, 1, 1, 1}, {kTypeM_FINE, 3, 3, 3, 1}, {-1, 3, 0, 0, 1},
  };
  TestDriver driver;
  for (const AddressCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "type " << c.type << " channel " << c.channel);
    TDLLTag tag;
    tag.TypeIndex = c.type;
    tag.Channel = c.channel;
    TCommand command;
    EXPECT_EQ(driver.GetCommandStartAddr(command, tag), c.start);
    EXPECT_EQ(driver.GetCommandEndAddr(command, tag), c.end);
    EXPECT_EQ(driver.GetCommandAddrLength(command, tag), c.length);
  }
  TDLLTag tag;
  tag.TypeIndex = kTypeENQ;
  tag.Channel = 4;
  TCommand sealed;
  sealed.Sealed = 1;
  sealed.LowChannel = 2;
  sealed.HighChannel = 3;
  EXPECT_EQ(driver.GetCommandStartAddr(sealed, tag), 2);
  EXPECT_EQ(driver.GetCommandEndAddr(sealed, tag), 3);
  EXPECT_EQ(driver.GetCommandAddrLength(sealed, tag), 2);
}

TEST(RequestFramingTest, SetpointWritesGoToTheTableOfTheirDeviceOnly) {
  FakeClock clock;
  TestDriver driver;
  driver.Start({1, 2});
  TDLLTag& final3 = driver.AddTag(kTypeM_FINAL, 1, 3);
  TDLLTag& coarse1 = driver.AddTag(kTypeM_COARSE, 2, 1);
  TDLLTag& fine4 = driver.AddTag(kTypeM_FINE, 1, 4);
  TDLLTag& outside = driver.AddTag(kTypeM_FINAL, 1, 1);
  outside.Channel = 7;  // a channel the table does not have

  EXPECT_FALSE(driver.Write(final3, TagValue::Double(500)));
  EXPECT_FALSE(driver.Write(coarse1, TagValue::Double(12.3)));
  EXPECT_FALSE(driver.Write(fine4, TagValue::Double(-1)));
  EXPECT_FALSE(driver.Write(outside, TagValue::Double(9)));

  EXPECT_TRUE(driver.Queue().empty());
  EXPECT_TRUE(driver.line->sent.empty());
  EXPECT_EQ(driver.Setpoints(1).Final[2], 500.0f);
  EXPECT_EQ(driver.Setpoints(1).Fine[3], -1.0f);
  EXPECT_EQ(driver.Setpoints(2).Coarse[0], 12.3f);
  EXPECT_EQ(driver.Setpoints(2).Final[2], 0.0f);
  EXPECT_EQ(driver.Setpoints(1).Coarse[0], 0.0f);
  // The tag keeps the value written to it.
  EXPECT_EQ(final3.Value, TagValue::Double(500));
}

TEST(RequestFramingTest, RewritingTheQueuedValueIsRefusedWithALogLine) {
  FakeClock clock;
  TestDriver driver;
  driver.Start();
  TDLLTag& start = driver.AddTag(kTypeSTART_UP, 1, 1, 1);
  ASSERT_TRUE(driver.Write(start, TagValue::Boolean(true)));
  EXPECT_FALSE(driver.Write(start, TagValue::Boolean(true)));
  EXPECT_EQ(driver.Queue().size(), 1u);
  EXPECT_NE(
      driver.log.find(Gbk("：标签写入请求未执行：T0重复写入, 地址=START_UP1:1, 标签值=True\r\n")),
      std::string::npos);
  EXPECT_TRUE(driver.Write(start, TagValue::Boolean(false)));
}

TEST(RequestFramingTest, TagWithoutTypeYieldsNoCommand) {
  FakeClock clock;
  TestDriver driver;
  driver.Start();
  TDLLTag& tag = driver.AddTag(kTypeREAD, 1, 1);
  tag.TypeIndex = -1;
  std::vector<CommandPtr> list;
  EXPECT_EQ(driver.CreatCommand(tag, list, false), nullptr);
  EXPECT_EQ(driver.CreatCommand(tag, list, true), nullptr);
  std::string request = "x";
  TCommand command;
  driver.GetAskStr(command, tag, request, false);
  EXPECT_EQ(request, "");
}

TEST(RequestFramingTest, SealingListsEveryReadCommandWithDebugOn) {
  FakeClock clock;
  TestDriver driver;
  driver.Start({1}, /*debug=*/true);
  driver.AddTag(kTypeREAD, 1, 1);
  driver.AddTag(kTypeENQ, 1, 2);
  driver.log.clear();
  driver.BuildCommands();
  EXPECT_NE(driver.log.find(Gbk("： 智能仪表类型=TK571，设备号=1[T0 地址=READ1:1 T1 地址=ENQ1:2 "
                                "]生成读标签命令串=READ\r\n\r\n")),
            std::string::npos)
      << driver.log;
}

}  // namespace
}  // namespace tk571::test
