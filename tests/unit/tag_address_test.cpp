// Tag addresses as the host writes them: parsing, rejection texts, internal
// tags and the tag editor's normal form.
#include <gtest/gtest.h>

#include <optional>

#include "engine/run_log.h"
#include "platform/gbk.h"
#include "protocol/dll_object.h"
#include "protocol/tag_type_table.h"
#include "support/fake_clock.h"
#include "support/tag_defs.h"

namespace tk571 {
namespace {

using platform::ToGbk;
using testing::FakeClock;
using testing::Pointers;
using testing::TagDef;

// The engine with the controller's tag types and a run log that is a
// string; it opens no serial port.
class Probe : public TBaseDLLObject {
 public:
  Probe() : TBaseDLLObject(true) {}
  void SetLogMsg(const std::string& text) override { log += text; }
  std::string log;

 protected:
  TagTypeTable TagTypes() const override { return ControllerTagTypes(); }
};

// Devices 1, 2 and 3 configured, entry 0 empty.
TDevicePDB Block(std::initializer_list<int> devices = {1, 2, 3}, uint8_t errors = 1,
                 uint8_t trace = 1) {
  TDevicePDB b;
  b.FillDefaults();
  b.SetTypeCode(0, kEmptyTypeCode);
  for (int d : devices) b.SetTypeCode(d, 0);
  b.SetLogErrors(errors);
  b.SetLogTrace(trace);
  return b;
}

struct Parsed {
  std::string address;
  int32_t type;  // -1 rejected for having no type
  int32_t dev;
  int32_t channel;
  std::optional<std::string> msg_end;  // DevMsg ending of a rejected tag, GBK from UTF-8
};

TEST(TagAddressTest, AddressForms) {
  const std::vector<Parsed> cases = {
      {"READ1:1", 1, 1, 1, std::nullopt},
      {"read1:1", 1, 1, 1, std::nullopt},
      {"READ1\xA3\xBA"
       "1",
       1, 1, 1, std::nullopt},                  // full-width colon
      {"READ_SETM1:1", 8, 1, 1, std::nullopt},  // longest name wins over READ
      {"m_final2:3", 2, 2, 3, std::nullopt},
      {"ENQ3:4", 0, 3, 4, std::nullopt},
      {"ENQ3:4\xA1\xA3"
       "7",
       0, 3, 4, std::nullopt},            // full-width dot ends the channel
      {"READ1", 1, 1, 1, std::nullopt},   // default device 1, channel from the rest
      {"READ1:", 1, 1, 1, std::nullopt},  // default channel
      {"READ1:.2", 1, 1, -1, "错误：标签地址READ1:.2通道地址错误，TK571不存在此标签。"},
      {"READx:1", 1, -1, -1, "所指定的-0001号 智能仪表不存在。请在设备向导中添加该 智能仪表！\r\n"},
      {"ENQ1:5", 0, 1, 5, "的通道地址超出TK571的最大范围4"},
      {"ENQ1:0", 0, 1, 0, "的通道地址超出TK571的最小范围1"},
      {"READ1:2", 1, 1, 2, "的通道地址超出TK571的最大范围1"},
      {"READ5:1", 1, 5, -1, "所指定的0005号 智能仪表不存在。请在设备向导中添加该 智能仪表！\r\n"},
      {"XYZ1:1", -1, -1, -1, "指定不存在的标签类型。"},
      {"ENLOG", -1, -1, -1, "指定不存在的标签类型。"},  // only appended definitions know ENLOG
  };
  FakeClock clock;
  const std::string p = DateTimeText() + ToGbk("：标签");
  for (const Parsed& c : cases) {
    SCOPED_TRACE(c.address);
    Probe probe;
    const TDevicePDB block = Block();
    const std::vector<TTagInfo> defs = {TagDef(7, c.address, 0, 100, "tag"), TagDef(8, "READ1:1")};
    ASSERT_TRUE(probe.IniDLLObj(&block, Pointers(defs)));
    const TDLLTag* tag = probe.FindTag(7);
    if (c.msg_end) {
      EXPECT_EQ(tag, nullptr);
      const std::string end = ToGbk(*c.msg_end);
      ASSERT_GE(probe.DevMsg().size(), end.size());
      EXPECT_EQ(probe.DevMsg().substr(probe.DevMsg().size() - end.size()), end) << probe.DevMsg();
      EXPECT_EQ(probe.DevMsg().rfind(p + "tag" + ToGbk("错误：标签地址") + c.address, 0), 0u);
      EXPECT_NE(probe.log.find(probe.DevMsg() + "\r\n" + p + "tag" +
                               ToGbk("错误报告：由于出现错误，系统在通讯时丢弃该标签！") + "\r\n"),
                std::string::npos);
      EXPECT_EQ(probe.TagCount(), 1);
    } else {
      ASSERT_NE(tag, nullptr);
      EXPECT_EQ(tag->TypeIndex, c.type);
      EXPECT_EQ(tag->DevNo, c.dev);
      EXPECT_EQ(tag->Channel, c.channel);
      EXPECT_EQ(tag->Internal, 0);
      EXPECT_EQ(probe.TagCount(), 2);
    }
  }
}

TEST(TagAddressTest, HintAndIllegalLinesFollowTheSwitches) {
  FakeClock clock;
  const std::string p = DateTimeText() + ToGbk("：标签") + "tag";
  struct Case {
    std::string address;
    uint8_t errors, trace;
    std::string expected_utf8;  // empty: nothing about the tag logged
  };
  const std::vector<Case> cases = {
      {"READ1", 0, 1, "提示：地址=READ1中缺少设备号，系统采用缺省值1\r\n"},
      {"READ1", 1, 0, ""},
      {"READ1:", 0, 1, "提示：地址=READ1:中缺少通道地址，系统采用缺省值1\r\n"},
      {"READx:1", 1, 0, "错误：标签地址READx:1中设备号非法。\r\n"},
      {"READ1:y", 1, 0, "错误：标签地址READ1:y的通道地址非法。\r\n"},
      {"READ1:1.2.x", 1, 0, "错误：标签地址READ1:1.2.x的第三段非法。\r\n"},
      {"READ1:y", 0, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address + " errors=" + std::to_string(c.errors) +
                 " trace=" + std::to_string(c.trace));
    Probe probe;
    const TDevicePDB block = Block({1}, c.errors, c.trace);
    const std::vector<TTagInfo> defs = {TagDef(1, c.address, 0, 100, "tag")};
    probe.IniDLLObj(&block, Pointers(defs));
    if (c.expected_utf8.empty()) {
      EXPECT_EQ(probe.log.find(ToGbk("提示")), std::string::npos);
      EXPECT_EQ(probe.log.find(ToGbk("非法")), std::string::npos);
    } else {
      EXPECT_NE(probe.log.find(p + ToGbk(c.expected_utf8)), std::string::npos)
          << platform::FromGbk(probe.log);
    }
  }
}

TEST(TagAddressTest, NoConfiguredDeviceMeansDevice99) {
  FakeClock clock;
  Probe probe;
  const TDevicePDB block = Block({});
  const std::vector<TTagInfo> defs = {TagDef(1, "READ1")};
  EXPECT_FALSE(probe.IniDLLObj(&block, Pointers(defs)));
  EXPECT_NE(probe.DevMsg().find(ToGbk("所指定的0099号")), std::string::npos);
  EXPECT_EQ(probe.sErrEvent(), ToGbk("驱动程序加载失败：无合法标签！") + "\r\n");
  EXPECT_NE(probe.log.find(DateTimeText() + ToGbk("：驱动程序加载失败：无合法标签！") + "\r\n"),
            std::string::npos);
  EXPECT_EQ(probe.TagCount(), 0);
}

TEST(TagAddressTest, InternalTagsStartWithTheirTexts) {
  FakeClock clock;
  Probe probe;
  const TDevicePDB block = Block();
  const std::vector<TTagInfo> defs = {
      TagDef(1, "COMMLINK", 2),      TagDef(2, "DEVICELINK3", 2),   TagDef(3, "ENCOMMLINK", 1),
      TagDef(4, "DEVICELINK150", 0), TagDef(5, "DEVICELINKX", 0),   TagDef(6, "ENDEVICELINK12", 1),
      TagDef(7, "commlink", 0),      TagDef(8, "DEVICELINK2:9", 1), TagDef(9, "ENCOMMLINK", 2),
  };
  ASSERT_TRUE(probe.IniDLLObj(&block, Pointers(defs)));
  EXPECT_EQ(probe.FindTag(1)->Value,
            TagValue::Text(ToGbk("TK571配料控制器(RS485)通讯始终不成功!")));
  EXPECT_EQ(probe.FindTag(2)->Value, TagValue::Text(ToGbk("3号 智能仪表TK571通讯始终不成功!")));
  EXPECT_EQ(probe.FindTag(3)->Value, TagValue::Boolean(true));
  EXPECT_EQ(probe.FindTag(4)->DevNo, 0);
  EXPECT_EQ(probe.FindTag(5)->DevNo, 0);
  EXPECT_EQ(probe.FindTag(6)->DevNo, 12);
  EXPECT_EQ(probe.FindTag(7)->TypeName, "COMMLINK");
  EXPECT_EQ(probe.FindTag(7)->Value, TagValue::Integer(0));
  EXPECT_EQ(probe.FindTag(8)->DevNo, 2);
  EXPECT_EQ(probe.FindTag(9)->Value, TagValue::Text(ToGbk("TK571配料控制器(RS485)打开通信线路")));
  for (uint32_t id = 1; id <= 9; ++id) {
    EXPECT_EQ(probe.FindTag(id)->Internal, 1) << id;
    EXPECT_EQ(probe.FindTag(id)->ReportedValue, probe.FindTag(id)->Value) << id;
  }
  EXPECT_EQ(probe.FindTag(1)->Writable, 0);
  EXPECT_EQ(probe.FindTag(2)->Writable, 0);
}

TEST(TagAddressTest, InitialValuesAndBitNumbers) {
  FakeClock clock;
  Probe probe;
  const TDevicePDB block = Block();
  std::vector<TTagInfo> defs = {TagDef(1, "READ1:1", 0), TagDef(2, "READ1:1", 0),
                                TagDef(3, "START_UP1:1", 1), TagDef(4, "READ1:1", 2),
                                TagDef(5, "READ1:1", 2)};
  defs[1].InitialValue.vt = 5;
  defs[1].InitialValue.Data.Double = 12.5;
  static const char kText[] = "\xD6\xD0";  // one GBK character
  defs[4].InitialValue.vt = 0x100;
  defs[4].InitialValue.Data.Pointer = kText;
  ASSERT_TRUE(probe.IniDLLObj(&block, Pointers(defs)));
  EXPECT_TRUE(probe.FindTag(1)->Value.IsInteger());
  EXPECT_EQ(probe.FindTag(1)->BitNo, 1);
  EXPECT_EQ(probe.FindTag(2)->Value, TagValue::Double(12.5));
  EXPECT_EQ(probe.FindTag(2)->BitNo, -1);
  EXPECT_EQ(probe.FindTag(3)->Value, TagValue::Boolean(false));
  EXPECT_EQ(probe.FindTag(3)->BitNo, -1);
  EXPECT_EQ(probe.FindTag(4)->Value, TagValue::Text(""));
  EXPECT_EQ(probe.FindTag(5)->Value, TagValue::Text(kText));
}

TEST(TagAddressTest, TagIdIndexHoldsLargeAndSparseIds) {
  FakeClock clock;
  Probe probe;
  const TDevicePDB block = Block();
  const std::vector<TTagInfo> defs = {TagDef(0xFFFFFFF0u, "READ1:1"), TagDef(5000, "XYZ"),
                                      TagDef(77, "ENQ2:2"), TagDef(3, "READ2:1")};
  ASSERT_TRUE(probe.IniDLLObj(&block, Pointers(defs)));
  EXPECT_EQ(probe.FindTag(0xFFFFFFF0u)->Index, 0);
  EXPECT_EQ(probe.FindTag(5000), nullptr);
  EXPECT_EQ(probe.FindTag(77)->Index, 1);
  EXPECT_EQ(probe.FindTag(3)->Index, 2);
  EXPECT_EQ(probe.FindTag(4), nullptr);
  EXPECT_EQ(probe.FindTag(0xFFFFFFFFu), nullptr);
}

TEST(TagAddressTest, TagEditorNormalForm) {
  struct Case {
    std::string in;
    std::string out;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"read2:3", "READ2:3.-1", true},
      {"READ1", "READ1:1.-1",
       true},  // the default device of the block in the object: none loaded, so 0
      {"READ7:3", "READ7:-1.-1", true},
      {"XYZ1:1", "ENQ-1:-1.-1", false},
      {"", "ENQ-1:-1.-1", false},
      {"M_FINE2\xA3\xBA"
       "4",
       "M_FINE2:4.-1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    TDLLObject checker(false);
    TDevicePDB block = Block({1, 2});
    std::string address = c.in;
    EXPECT_EQ(checker.CheckTagAddr(block, address), c.valid);
    if (c.in == "READ1") {
      // Without a loaded block the default device is 0, and entry 0 is not configured.
      EXPECT_EQ(address, "READ0:-1.-1");
    } else {
      EXPECT_EQ(address, c.out);
    }
  }
}

}  // namespace
}  // namespace tk571
