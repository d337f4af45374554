// What the host prints from the driver's records and texts (GBK decoded for
// a UTF-8 terminal).
#include "format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tag_file.h"
#include "text_codec.h"

namespace tk571::host {
namespace {

// "TK571配料控制器(RS485)通讯正常!" in code page 936.
const char kLinkGbk[] =
    "TK571\xC5\xE4\xC1\xCF\xBF\xD8\xD6\xC6\xC6\xF7(RS485)\xCD\xA8\xD1\xB6\xD5\xFD\xB3\xA3!";

TEST(Texts, GbkRoundTripAndDisplayOfBrokenBytes) {
  EXPECT_EQ(GbkToUtf8(kLinkGbk), "TK571配料控制器(RS485)通讯正常!");
  EXPECT_EQ(Utf8ToGbk("TK571配料控制器(RS485)通讯正常!"), kLinkGbk);
  EXPECT_EQ(GbkToUtf8("\xCD"), std::nullopt);  // half a character
  EXPECT_EQ(DisplayText("ok\xCD"), "ok?");
  EXPECT_EQ(DisplayText("\xFF\xCD\xA8!"), "?通!");
  EXPECT_EQ(Utf8ToGbk("😀"), std::nullopt);
}

struct WidthCase {
  const char* text;
  int width;
  const char* fitted;
};

const WidthCase kWidths[] = {
    {"READ1:1", 9, "READ1:1  "},
    {"通讯状态", 10, "通讯状态  "},
    {"1号秤实时重量", 8, "1号秤实\xE2\x80\xA6"},  // 1+2+2+2 columns and the ellipsis
    {"1号秤实时重量", 7, "1号秤\xE2\x80\xA6 "},   // a wide character does not fit in one
    {"ABCDEFGH", 5, "ABCD\xE2\x80\xA6"},
    {"", 3, "   "},
};

TEST(Texts, ColumnsCountWideCharactersTwice) {
  EXPECT_EQ(DisplayWidth("TK571配料控制器(RS485)通讯正常!"), 31);
  for (const WidthCase& c : kWidths) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FitToWidth(c.text, c.width), c.fitted);
    EXPECT_EQ(DisplayWidth(FitToWidth(c.text, c.width)), c.width);
  }
}

TEST(Format, TimeStampsAreLocalTimeOfDay) {
  // 2024-01-01 12:34:56.789 in the driver's day count.
  EXPECT_EQ(FormatTime(45292.0 + (12 * 3600 + 34 * 60 + 56.789) / 86400.0), "12:34:56.789");
  EXPECT_EQ(FormatTime(45292.0), "00:00:00.000");
  EXPECT_EQ(FormatTime(-1.0), "--:--:--.---");
}

TTagValueRec Record(uint32_t id, uint8_t type, uint32_t quality) {
  TTagValueRec r;
  std::memset(&r, 0, sizeof r);
  r.TagID = id;
  r.ValueType = type;
  r.Quality = quality;
  r.TimeStamp = 45292.5;
  return r;
}

TEST(Format, ChangeLinesShowTimeTagValueAndQuality) {
  const TagFile file = ParseTagFile(
      "10 1号秤实时重量 READ1:1 float 200\n"
      "1 Link COMMLINK string 500\n"
      "52 Start START_UP1:1 bool 1s\n");
  ASSERT_TRUE(file.errors.empty());

  TTagValueRec weight = Record(10, TK571_VALUE_FLOAT, TK571_QUALITY_GOOD);
  weight.Value.Float = 512.5;
  EXPECT_EQ(FormatChange(weight, &file.tags[0]),
            "12:00:00.000  1号秤实时重量    READ1:1        = 512.5  good");

  char text[sizeof kLinkGbk];
  std::memcpy(text, kLinkGbk, sizeof kLinkGbk);
  TTagValueRec link = Record(1, TK571_VALUE_STRING, TK571_QUALITY_GOOD);
  link.Value.String = text;
  EXPECT_EQ(
      FormatChange(link, &file.tags[1]),
      "12:00:00.000  Link             COMMLINK       = \"TK571配料控制器(RS485)通讯正常!\"  good");

  TTagValueRec start = Record(52, TK571_VALUE_BOOL, TK571_QUALITY_WRITE_FAILED);
  start.Value.Bool = 7;
  EXPECT_EQ(FormatChange(start, &file.tags[2]),
            "12:00:00.000  Start            START_UP1:1    = on  write failed");

  TTagValueRec unknown = Record(99, TK571_VALUE_STRING, 0x1234);
  unknown.Value.String = nullptr;
  EXPECT_EQ(FormatChange(unknown, nullptr),
            "12:00:00.000  #99                             = \"\"  0x1234");
  EXPECT_EQ(FormatQuality(TK571_QUALITY_WRITE_STALE), "write stale");
}

TEST(Format, DriverMessagesAreDecodedOneLineEach) {
  // "通讯超时错，期待设备应答" CR LF, then a second line.
  const std::string message =
      "\xCD\xA8\xD1\xB6\xB3\xAC\xCA\xB1\xB4\xED\xA3\xAC\xC6\xDA\xB4\xFD\xC9\xE8\xB1\xB8\xD3\xA6"
      "\xB4\xF0\r\nsecond\r\n";
  EXPECT_EQ(FormatMessage("12:00:00.000", message),
            (std::vector<std::string>{"12:00:00.000  driver: 通讯超时错，期待设备应答",
                                      "12:00:00.000  driver: second"}));
  EXPECT_TRUE(FormatMessage("t", "\r\n").empty());
}

TEST(Format, KindsListDecodesTheLengthPrefixedTexts) {
  TTagAddrDesc kind;
  std::memset(&kind, 0, sizeof kind);
  kind.Name[0] = 4;
  std::memcpy(kind.Name + 1, "READGARBAGE", 11);  // only the length counts
  const char description[] = "\xB6\xC1\xC8\xA1";  // 读取
  kind.Description[0] = 4;
  std::memcpy(kind.Description + 1, description, 4);
  kind.ValueType = 0;
  kind.Access = 2;
  kind.Upper = 65535;
  kind.Lower = -65535;
  const std::vector<std::string> lines = FormatKinds({kind});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "READ       float  read/write  -65535..65535       读取");
}

TEST(Format, TableRowsKeepTheirColumnsWithWideNames) {
  const TagFile file = ParseTagFile(
      "10 1号秤实时重量 READ1:1 float 200\n"
      "11 W READ2:1 float 200 -1\n");
  ASSERT_TRUE(file.errors.empty());
  std::vector<TagRow> rows = {
      {&file.tags[0], "512.5", 0, "12:00:00.000", 3},
      {&file.tags[1], FormatInitialValue(file.tags[1]), 0, "", 0},
  };
  const std::vector<std::string> lines = RenderTable(rows, 120);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].rfind("1号秤实时重量    READ1:1        512.5 ", 0), 0u);
  EXPECT_NE(lines[1].find("good         12:00:00.000"), std::string::npos);
  EXPECT_EQ(lines[2].rfind("W                READ2:1        -1 ", 0), 0u);
  for (const std::string& line : lines) EXPECT_LE(DisplayWidth(line), 120);
  for (const std::string& line : RenderTable(rows, 40)) EXPECT_EQ(DisplayWidth(line), 40);
}

}  // namespace
}  // namespace tk571::host
