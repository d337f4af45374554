// The wizard's page logic: page order, clamps and the edits of the
// parameter block, without any window.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "platform/gbk.h"
#include "ui/dialog_texts.h"
#include "ui/wizard_pages.h"

namespace tk571::ui {
namespace {

std::vector<uint8_t> DefaultHostBlock() {
  TDevicePDB block;
  block.FillDefaults();
  std::vector<uint8_t> host(kPdbSize);
  block.Store(host.data());
  return host;
}

std::vector<int> UsedEntries(const TDevicePDB& block) {
  std::vector<int> used;
  for (int i = 0; i < kDeviceCount; ++i)
    if (block.TypeCode(i) != kEmptyTypeCode) used.push_back(i);
  return used;
}

std::string U8(const std::string& gbk) {
  return platform::FromGbk(gbk);
}

TEST(WizardSessionTest, EntryNormalisesHostAndSetsModifiedOnlyForStaleNames) {
  struct Case {
    const char* name;
    const char* entry3_name;  // null: entry 3 stays empty
    bool modified;
  };
  for (const Case& c : {Case{"clean", nullptr, false}, Case{"known name", "TK571", false},
                        Case{"unknown name", "TK570", true}}) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> host = DefaultHostBlock();
    TDevicePDB block = TDevicePDB::Load(host.data());
    if (c.entry3_name) {
      block.SetTypeCode(3, 0);
      block.SetTypeName(3, c.entry3_name);
    }
    block.Store(host.data());
    WizardSession session(host.data());
    EXPECT_EQ(session.Modified(), c.modified);
    EXPECT_EQ(session.Result(), c.modified ? kEditAccepted : kEditCancelled);
    // The host's own block is normalised in place, whatever the user does next.
    const TDevicePDB after = TDevicePDB::Load(host.data());
    EXPECT_EQ(after.TypeCode(3) != kEmptyTypeCode, c.entry3_name && !c.modified);
    EXPECT_EQ(session.Work().TypeCode(3), after.TypeCode(3));
  }
}

TEST(WizardSessionTest, HistoryReturnsPagesInReverseAndSurvivesOverflowAndUnderflow) {
  std::vector<uint8_t> host = DefaultHostBlock();
  WizardSession session(host.data());
  for (uint8_t page : {kPageStart, kPageStep1, kPageMulti}) session.Push(page);
  for (uint8_t expected : {kPageMulti, kPageStep1, kPageStart}) {
    session.Pop();
    EXPECT_EQ(session.NextPage(), expected);
  }
  session.Pop();
  EXPECT_EQ(session.NextPage(), kPageStart);
  EXPECT_EQ(session.HistoryCount(), 0);

  for (int i = 0; i < WizardSession::kHistoryDepth + 5; ++i) session.Push(static_cast<uint8_t>(i));
  EXPECT_EQ(session.HistoryCount(), WizardSession::kHistoryDepth);
  session.Pop();
  EXPECT_EQ(session.NextPage(), WizardSession::kHistoryDepth + 4);
}

TEST(WizardSessionTest, PageLoopShowsTheChosenPagesUntilOneEndsTheWizard) {
  struct Case {
    const char* name;
    std::vector<uint8_t> next;  // what each shown page chooses; 0xFF: nothing
    std::vector<uint8_t> shown;
  };
  for (const Case& c :
       {Case{"through to the summary",
             {kPageStep1, kPageSerial, kPageSummary, kPageEnd},
             {kPageStart, kPageStep1, kPageSerial, kPageSummary}},
        Case{"left from the start page", {kPageLeave}, {kPageStart}},
        Case{"closed by its window frame", {kPageStep1, 0xFF}, {kPageStart, kPageStep1}},
        Case{"a page the dialogs do not have", {kPageModify, kPageSummary}, {kPageStart}}}) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> host = DefaultHostBlock();
    WizardSession session(host.data());
    std::vector<uint8_t> shown;
    session.RunPages([&](uint8_t page) {
      if (page == kPageModify) return false;
      const std::size_t at = shown.size();
      shown.push_back(page);
      if (at < c.next.size() && c.next[at] != 0xFF) session.SetNextPage(c.next[at]);
      return true;
    });
    EXPECT_EQ(shown, c.shown);
  }
}

TEST(WizardPagesTest, DeviceNumbersAreClampedToTheBlock) {
  const struct {
    const char* text;
    int number;
  } cases[] = {{"", 0},
               {"abc", 0},
               {"-5", 0},
               {"0", 0},
               {"7", 7},
               {" 42 ", 42},
               {"99", 99},
               {"100", 99},
               {"12x", 0},
               {"+3", 3},
               {"+-3", 0},
               {"99999999999999999999", 99},
               {"-99999999999999999999", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ClampDeviceNumber(c.text), c.number);
  }
  const struct {
    const char* typed;
    const char* shown;
  } shown[] = {{"", ""}, {"5", "5"}, {"150", "99"}, {"-1", "0"}, {"x", "0"}};
  for (const auto& c : shown) {
    SCOPED_TRACE(c.typed);
    EXPECT_EQ(SingleDeviceLogic::NormalisedNumberText(c.typed), c.shown);
  }
}

TEST(WizardPagesTest, PageOrderFollowsTheChoicesAndBackRetracesIt) {
  std::vector<uint8_t> host = DefaultHostBlock();
  WizardSession session(host.data());
  StartPageLogic(session).Next(StartPageLogic::Choice::kModify);
  EXPECT_EQ(session.NextPage(), kPageModify);
  EXPECT_FALSE(session.Modified());
  DeviceListLogic(session, kPageModify).Next();
  EXPECT_EQ(session.NextPage(), kPageSerial);
  SerialLogic(session).Next();
  EXPECT_EQ(session.NextPage(), kPageSummary);
  GoBack(session);
  EXPECT_EQ(session.NextPage(), kPageSerial);
  GoBack(session);
  EXPECT_EQ(session.NextPage(), kPageModify);
  GoBack(session);
  EXPECT_EQ(session.NextPage(), kPageStart);

  StartPageLogic(session).Next(StartPageLogic::Choice::kBrowse);
  EXPECT_EQ(session.NextPage(), kPageSummary);
  StartPageLogic(session).Next(StartPageLogic::Choice::kNew);
  EXPECT_EQ(session.NextPage(), kPageStep1);
  EXPECT_TRUE(session.Modified());

  struct Case {
    CreateModeLogic::Choice choice;
    uint8_t page;
    uint8_t mode;
  };
  for (const Case& c : {Case{CreateModeLogic::Choice::kSingle, kPageSingle, 0},
                        Case{CreateModeLogic::Choice::kMultiple, kPageMulti, 1}}) {
    CreateModeLogic(session).Next(c.choice);
    EXPECT_EQ(session.NextPage(), c.page);
    EXPECT_EQ(session.Work().ConnectMode(), c.mode);
    GoBack(session);
    EXPECT_EQ(session.NextPage(), kPageStep1);
  }
}

TEST(WizardPagesTest, CancelEndsTheWizardAndOnlyTheStartPageKeepsTheModifiedFlag) {
  std::vector<uint8_t> host = DefaultHostBlock();
  WizardSession session(host.data());
  session.SetModified(true);
  StartPageLogic(session).Cancel();
  EXPECT_EQ(session.NextPage(), kPageEnd);
  EXPECT_TRUE(session.Modified());
  session.SetNextPage(kPageSerial);
  CancelWizard(session);
  EXPECT_EQ(session.NextPage(), kPageEnd);
  EXPECT_FALSE(session.Modified());
  EXPECT_EQ(session.Result(), kEditCancelled);
}

TEST(WizardPagesTest, SingleDeviceLeavesExactlyTheChosenEntry) {
  for (const char* typed : {"0", "17", "150", "junk"}) {
    SCOPED_TRACE(typed);
    std::vector<uint8_t> host = DefaultHostBlock();
    WizardSession session(host.data());
    for (int i : {0, 5, 40}) session.Work().SetTypeCode(i, 0);
    session.Work().SetDeviceNumber(40, 77);
    SingleDeviceLogic(session).Next(typed, 0);
    const int number = ClampDeviceNumber(typed);
    EXPECT_EQ(UsedEntries(session.Work()), std::vector<int>{number});
    EXPECT_EQ(session.Work().TypeName(number), "TK571");
    EXPECT_EQ(session.Work().CurrentEntry(), static_cast<uint32_t>(number));
    EXPECT_EQ(session.Work().DeviceNumber(40), 40u);
    EXPECT_EQ(session.NextPage(), kPageSerial);
  }
}

TEST(DeviceListLogicTest, AddDeleteAndTheNumberOfferedNext) {
  std::vector<uint8_t> host = DefaultHostBlock();
  WizardSession session(host.data());
  DeviceListLogic list(session, kPageMulti);
  EXPECT_EQ(list.FirstFreeNumber(), 1);
  uint8_t* raw = session.Work().data() + pdb_layout::kEntriesOffset + 4 * pdb_layout::kEntrySize;
  raw[pdb_layout::kEntryFlagA] = 0x55;
  raw[pdb_layout::kEntryFlagB] = 0x66;
  EXPECT_EQ(list.Add("4", 0), 1);
  EXPECT_EQ(raw[pdb_layout::kEntryFlagA], 0);
  EXPECT_EQ(raw[pdb_layout::kEntryFlagB], 0);
  EXPECT_EQ(list.Add("1", 0), 2);
  EXPECT_EQ(list.Add("500", 0), 2);  // clamped to 99
  EXPECT_EQ(UsedEntries(session.Work()), (std::vector<int>{0, 1, 4, 99}));
  const std::vector<DeviceNode> nodes = list.Nodes();
  ASSERT_EQ(nodes.size(), 4u);
  EXPECT_EQ(U8(nodes[2].text), "TK571：4");
  EXPECT_EQ(list.Delete(1), 1);
  EXPECT_EQ(list.Delete(-1), 1);
  EXPECT_EQ(UsedEntries(session.Work()), (std::vector<int>{0, 4, 99}));
  EXPECT_TRUE(session.Modified());

  // With every entry in use, the offered number is 99 after Add and Delete.
  for (int i = 0; i < kDeviceCount; ++i) list.Add(std::to_string(i), 0);
  EXPECT_EQ(list.Add("3", 0), 99);
  EXPECT_EQ(list.Delete(99), 99);
}

TEST(DeviceListLogicTest, TypedNumbersMoveTheSelectedDeviceOnlyToFreeNumbers) {
  enum class Expect { kUntouched, kMovedTo };
  const struct {
    const char* name;
    int selected;
    const char* typed;
    DeviceListLogic::NumberChange change;
    std::vector<int> used;
  } cases[] = {
      {"nothing selected", -1, "7", DeviceListLogic::NumberChange::kNoSelection, {0, 3, 5}},
      {"free number", 3, "7", DeviceListLogic::NumberChange::kMoved, {0, 5, 7}},
      {"number in use", 3, "5", DeviceListLogic::NumberChange::kDuplicate, {0, 3, 5}},
      {"own number", 3, "3", DeviceListLogic::NumberChange::kUnchanged, {0, 3, 5}},
      {"beyond the block", 3, "1000", DeviceListLogic::NumberChange::kMoved, {0, 5, 99}},
      {"not a number, 0 in use", 3, "x", DeviceListLogic::NumberChange::kDuplicate, {0, 3, 5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> host = DefaultHostBlock();
    WizardSession session(host.data());
    DeviceListLogic list(session, kPageModify);
    list.Add("3", 0);
    list.Add("5", 0);
    session.SetModified(false);
    session.Work().SetCurrentEntry(3);
    int selected = c.selected;
    EXPECT_EQ(list.ChangeNumber(selected, c.typed, 0), c.change);
    EXPECT_EQ(UsedEntries(session.Work()), c.used);
    const bool moved = c.change == DeviceListLogic::NumberChange::kMoved;
    EXPECT_EQ(session.Modified(), moved);
    if (moved) {
      EXPECT_EQ(selected, ClampDeviceNumber(c.typed));
      EXPECT_EQ(session.Work().CurrentEntry(), 0u);
      EXPECT_EQ(session.Work().TypeName(3), "");
    } else {
      EXPECT_EQ(selected, c.selected);
    }
  }
}

TEST(SerialLogicTest, DropDownsAndEditsStoreTheirFields) {
  std::vector<uint8_t> host = DefaultHostBlock();
  WizardSession session(host.data());
  SerialLogic serial(session);
  const SerialLogic::View initial = serial.Initial();
  EXPECT_EQ(initial.port, 0);
  EXPECT_EQ(initial.baud, 6);
  EXPECT_EQ(initial.data_bits, 0);
  EXPECT_EQ(initial.parity, 2);
  EXPECT_EQ(initial.timeout, "100");

  serial.SetPort(15);
  serial.SetBaud(14);
  serial.SetDataBits(1);
  serial.SetStopBits(2);
  serial.SetParity(1);
  for (auto bad : {-1, 16}) serial.SetPort(bad);
  serial.SetBaud(15);
  serial.SetDataBits(2);
  const TDevicePDB& b = session.Work();
  EXPECT_EQ(b.Port(), 15);
  EXPECT_EQ(b.BaudIndex(), 14);
  EXPECT_EQ(b.DataBitsCode(), 4);
  EXPECT_EQ(b.StopBitsCode(), 2);
  EXPECT_EQ(b.ParityCode(), 1);
  EXPECT_TRUE(session.Modified());

  const struct {
    const char* text;
    int stored;
  } timeouts[] = {{"", 10},         {"5", 10},        {"10", 10},  {"250", 250},
                  {"60000", 60000}, {"60001", 60000}, {"abc", 10}, {"99999999999", 60000}};
  for (const auto& c : timeouts) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(serial.SetTimeout(c.text), c.stored);
    EXPECT_EQ(b.CommTimeoutMs(), c.stored);
  }
  const struct {
    const char* text;
    int budget;
    int stored;
  } retries[] = {{"5", 2, 5},  {"1", 2, 2}, {"11", 2, 10}, {"abc", 2, 2},
                 {"-7", 0, 0}, {"1", 0, 1}, {"3", 4, 4},   {"300", 0, 10}};
  for (const auto& c : retries) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(serial.SetRetries(c.text, c.budget), c.stored);
    EXPECT_EQ(b.WriteRetries(), c.stored);
  }
  const std::string long_text = "  " + std::string(60, 'A') + "  ";
  EXPECT_EQ(serial.SetModemInit(long_text), std::string(50, 'A'));
  const std::string chinese = platform::ToGbk(std::string(49, 'A') + "中");
  EXPECT_EQ(serial.SetModemInit(chinese), std::string(49, 'A'));
}

TEST(SummaryTest, SerialLinesDescribeTheBlock) {
  const struct {
    uint8_t port, baud, data, stop, parity;
    const char* lines[3];
  } cases[] = {
      {0, 6, 3, 0, 2, {"串口1", "\t波特率 = 9600   偶校验", "\t数据位 = 7位    停止位 = 1位"}},
      {15, 14, 4, 1, 0, {"串口16", "\t波特率 = 256000 无校验", "\t数据位 = 8位    停止位 = 1位半"}},
      {2, 0, 0, 2, 1, {"串口3", "\t波特率 = 110    奇校验", "\t数据位 = 4位    停止位 = 2位"}},
      {1, 12, 9, 7, 4, {"串口2", "\t波特率 = 115200 无校验", "\t数据位 = 8位    停止位 = 1位"}},
  };
  for (const auto& c : cases) {
    TDevicePDB block;
    block.FillDefaults();
    block.SetPort(c.port);
    block.SetBaudIndex(c.baud);
    block.SetDataBitsCode(c.data);
    block.SetStopBitsCode(c.stop);
    block.SetParityCode(c.parity);
    const std::vector<std::string> lines = SerialSummaryLines(block);
    ASSERT_EQ(lines.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(U8(lines[i]), c.lines[i]);
  }
}

TEST(SummaryTest, UsageAndPageTextsComposeTheDriverLabels) {
  DriverInfo info = CurrentDriverInfo();
  std::vector<std::string> usage = UsageLines(info);
  EXPECT_EQ(U8(usage[0]), "    每个与上位机相连的 智能仪表在上位机的设备中都有一个唯一的设备号。");
  EXPECT_EQ(U8(usage[1]),
            "    在上位机的新建标签时，需要在标签主地址中指定设备号，"
            "从而确定此标签在一个节点设备中属于的哪一个 智能仪表。");
  info.ProductText = platform::ToGbk("组态王");
  usage = UsageLines(info);
  EXPECT_EQ(U8(usage[0]).rfind("    每个与组态王相连的 智能仪表", 0), 0u);
  EXPECT_EQ(U8(usage[1]).rfind("    在组态王的新建标签时", 0), 0u);

  EXPECT_EQ(U8(WelcomeHeading(info)), "欢迎使用TK571配料控制器(RS485)配置向导");
  EXPECT_EQ(U8(DeviceNumberRangeHint(info)), "    TK571配料控制器(RS485)的设备号的取值范围从0至99");
  EXPECT_EQ(U8(DuplicateNumberMessage(info)), "设备号重复,请重新修改!");
  EXPECT_EQ(U8(SingleCreateCaption(info)), "单个 智能仪表创建（RS232方式连接）");
  EXPECT_EQ(U8(MultiCreateCaption(info)), "多个 智能仪表创建（RS485/RS422方式连接）");
  EXPECT_EQ(U8(TypeDescriptionText(0)).rfind("   TK571支持8种标签", 0), 0u);
  EXPECT_EQ(TypeDescriptionText(1), "   ");
}

TEST(SummaryTest, FinishWritesTheBlockAsTheCopyRoutineDoes) {
  std::vector<uint8_t> host = DefaultHostBlock();
  std::memset(host.data() + pdb_layout::kEntriesOffset + 7 * pdb_layout::kEntrySize + 5, 0xEE, 47);
  const std::vector<uint8_t> before = host;
  WizardSession session(host.data());
  DeviceListLogic(session, kPageMulti).Add("7", 0);
  SerialLogic(session).SetBaud(9);
  EXPECT_EQ(host, before) << "nothing reaches the host before 完成";
  SummaryLogic(session).Finish();
  EXPECT_EQ(session.NextPage(), kPageEnd);

  TDevicePDB expected = TDevicePDB::Load(before.data());
  expected.CopyFrom(session.Work());
  std::vector<uint8_t> expected_bytes(kPdbSize);
  expected.Store(expected_bytes.data());
  EXPECT_EQ(host, expected_bytes);
  EXPECT_EQ(TDevicePDB::Load(host.data()).TypeName(7), "TK571");
}

TEST(WizardPagesTest, EveryPageHasItsCaption) {
  const struct {
    uint8_t page;
    const char* caption;
  } cases[] = {
      {kPageLeave, ""},
      {kPageStart, "向导：选择操作"},
      {kPageStep1, "向导：选择创建方式"},
      {kPageModify, "向导：修改设备"},
      {kPageSingle, "向导：创建单个设备"},
      {kPageMulti, "向导：创建多个设备"},
      {kPageSerial, "向导：设置串口参数"},
      {kPageSummary, "向导：完成配置"},
      {kPageEnd, ""},
      {9, ""},
      {255, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.page));
    EXPECT_EQ(U8(PageCaption(c.page)), c.caption);
  }
  // The host shows the title in code page 936.
  EXPECT_EQ(PageCaption(kPageStart), "\xcf\xf2\xb5\xbc\xa3\xba\xd1\xa1\xd4\xf1\xb2\xd9\xd7\xf7");
  EXPECT_EQ(U8(PageTitle(CurrentDriverInfo(), PageCaption(kPageSerial))),
            "TK571配料控制器(RS485)向导：设置串口参数");
}

// A character code page 936 cannot hold would reach the window as '?'.
TEST(DialogTextsTest, EveryTextIsGbkAndNamesOneText) {
  using namespace texts;  // NOLINT(build/namespaces)
  const std::vector<const std::string*> all = {
      &Previous(),
      &Next(),
      &Cancel(),
      &Finish(),
      &ChooseOperation(),
      &NewDevice(),
      &ModifyDevice(),
      &BrowseDevices(),
      &HelpInfo(),
      &DebugSettings(),
      &DownloadDriver(),
      &ChooseCreateMode(),
      &TagType(),
      &AddDevice(),
      &DeleteDevice(),
      &SerialSettings(),
      &Port(),
      &BaudRate(),
      &DataBits(),
      &StopBits(),
      &Parity(),
      &Usage(),
      &PrintConfiguration(),
      &DeviceTestCaption(),
      &TagAddress(),
      &TagValueColumn(),
      &TagOperation(),
      &HostCommand(),
      &StartInfo(),
      &CommInfo(),
      &DeviceAnswer(),
      &SendCommand(),
      &Exit(),
      &AdvancedDebug(),
      &ReadOperation(),
      &WriteOperation(),
      &WriteCommand(),
      &DebugViewerCaption(),
      &DebugSwitch(),
      &ErrorOutput(),
      &TraceOutput(),
      &SaveAs(),
      &SaveChanges(),
      &Print(),
      &CloseWindow(),
      &TagTypeNames()[0],
      &TagTypeNames()[1],
      &TagTypeNames()[2],
  };
  std::set<std::string> distinct;
  for (const std::string* text : all) {
    SCOPED_TRACE(U8(*text));
    EXPECT_FALSE(text->empty());
    EXPECT_EQ(text->find('?'), std::string::npos);
    distinct.insert(*text);
  }
  EXPECT_EQ(distinct.size(), all.size());
  EXPECT_EQ(TagTypeNames().size(), 3u);
  EXPECT_EQ(U8(DebugViewerCaption()), "向导：设置调试选项");
}

TEST(WizardPagesTest, HelpAndDownloadAddresses) {
  DriverInfo info = CurrentDriverInfo();
  info.HostDirectory = "/opt/host/";
  const std::vector<std::string> help = HelpFileCandidates(info);
  ASSERT_FALSE(help.empty());
  EXPECT_EQ(help.front(), "/opt/host/help/TK571配料控制器(RS485).chm");
  EXPECT_NE(std::find(help.begin(), help.end(), "/opt/host/help/TK571_485.chm"), help.end());
  const std::string url = DownloadAddress(info);
  EXPECT_NE(url.find("down.asp?name=TK571%E9%85%8D"), std::string::npos) << url;
  EXPECT_NE(url.find("%28RS485%29"), std::string::npos) << url;
}

}  // namespace
}  // namespace tk571::ui
