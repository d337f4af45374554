// The tag file: what each line becomes in the TTagInfo records the driver
// reads, and which lines are refused with which line number.
#include "tag_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tag_records.h"

namespace tk571::host {
namespace {

struct GoodLine {
  const char* line;
  uint32_t id;
  const char* name_gbk;
  const char* address;
  uint8_t kind;
  uint32_t scan_ms;
  uint16_t vt;          // initial value's variant type
  double number;        // for a double
  int16_t switch_bits;  // for a VARIANT_BOOL
  const char* text;     // for a GBK string
};

const GoodLine kGoodLines[] = {
    {"10 Weight1 READ1:1 float 200", 10, "Weight1", "READ1:1", 0, 200, 0, 0, 0, nullptr},
    {"11\tW2\tREAD2:1\tanalog\t1s\t-1", 11, "W2", "READ2:1", 0, 1000, 5, -1, 0, nullptr},
    {"12 Final ENQ1:4 number 500ms 12.5", 12, "Final", "ENQ1:4", 0, 500, 5, 12.5, 0, nullptr},
    {"13 Start START_UP1:1 bool 1s on", 13, "Start", "START_UP1:1", 1, 1000, 11, 0, -1, nullptr},
    {"14 Load LOAD_SETM1:1 switch 2s 0", 14, "Load", "LOAD_SETM1:1", 1, 2000, 11, 0, 0, nullptr},
    {"15 Link COMMLINK string 500", 15, "Link", "COMMLINK", 2, 500, 0, 0, 0, nullptr},
    {"16 Note ENCOMMLINK text 1m \"two words\"", 16, "Note", "ENCOMMLINK", 2, 60000, 0x100, 0, 0,
     "two words"},
    // Chinese names and the full-width colon reach the driver in code page 936.
    {"17 通讯状态 DEVICELINK1 2 500", 17, "\xCD\xA8\xD1\xB6\xD7\xB4\xCC\xAC", "DEVICELINK1", 2, 500,
     0, 0, 0, nullptr},
    {"18 \"秤 1\" READ1\xEF\xBC\x9A"
     "1 0 100 # trailing comment",
     18, "\xB3\xD3 1",
     "READ1\xA3\xBA"
     "1",
     0, 100, 0, 0, 0, nullptr},
    // A name of exactly 32 bytes fills the field without a terminator.
    {"19 ABCDEFGHIJKLMNOPQRSTUVWXYZ012345 READ1:1 0 100", 19, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345",
     "READ1:1", 0, 100, 0, 0, 0, nullptr},
    {"65535 Last READ1:1 float 1h", 65535, "Last", "READ1:1", 0, 3600000, 0, 0, 0, nullptr},
};

TEST(TagFile, GoodLinesBecomeTheRecordsTheDriverReads) {
  for (const GoodLine& c : kGoodLines) {
    SCOPED_TRACE(c.line);
    const TagFile file = ParseTagFile(c.line);
    ASSERT_TRUE(file.errors.empty()) << file.errors.front();
    ASSERT_EQ(file.tags.size(), 1u);
    const TagInfoTable table(file.tags);
    ASSERT_EQ(table.Count(), 1);
    const TTagInfo& info = table.Record(0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
    uint32_t id;
    std::memcpy(&id, bytes + 0, 4);
    EXPECT_EQ(id, c.id);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 4),
                          strnlen(reinterpret_cast<const char*>(bytes + 4), 32)),
              c.name_gbk);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 40)), c.address);
    EXPECT_EQ(bytes[104], c.kind);
    uint32_t scan;
    std::memcpy(&scan, bytes + 108, 4);
    EXPECT_EQ(scan, c.scan_ms);
    uint16_t vt;
    std::memcpy(&vt, bytes + 120, 2);
    EXPECT_EQ(vt, c.vt);
    if (vt == 5) {
      double number;
      std::memcpy(&number, bytes + 128, 8);
      EXPECT_EQ(number, c.number);
    } else if (vt == 11) {
      int16_t bits;
      std::memcpy(&bits, bytes + 128, 2);
      EXPECT_EQ(bits, c.switch_bits);
    } else if (vt == 0x100) {
      const char* text;
      std::memcpy(&text, bytes + 128, sizeof text);
      EXPECT_STREQ(text, c.text);
    }
  }
}

TEST(TagFile, CommentsAndBlankLinesAreSkippedAndLinesKeepTheirNumbers) {
  const TagFile file = ParseTagFile(
      "# demo\n"
      "\n"
      "   \t\n"
      "1 A READ1:1 float 100   # live weight\n"
      "# 2 B READ2:1 float 100\n"
      "3 \"C # not a comment\" READ2:1 float 100\r\n");
  ASSERT_TRUE(file.errors.empty()) << file.errors.front();
  ASSERT_EQ(file.tags.size(), 2u);
  EXPECT_EQ(file.tags[0].line, 4);
  EXPECT_EQ(file.tags[1].line, 6);
  EXPECT_EQ(file.tags[1].name, "C # not a comment");
}

struct BadLine {
  const char* text;
  const char* error;
};

const BadLine kBadLines[] = {
    {"1 A READ1:1 float", "line 1: expected id, name, address, kind and scan period, found 4"},
    {"1 A READ1:1 float 100 0 extra", "line 1: too many words"},
    {"x A READ1:1 float 100", "line 1: tag id \"x\" is not a number in 0..65535"},
    {"-1 A READ1:1 float 100", "line 1: tag id \"-1\""},
    {"65536 A READ1:1 float 100", "line 1: tag id \"65536\""},
    {"1 A READ1:1 double 100", "line 1: data kind \"double\" is not float, bool or string"},
    {"1 A READ1:1 float 0", "line 1: scan period \"0\""},
    {"1 A READ1:1 float 2h", "line 1: scan period \"2h\""},
    {"1 A READ1:1 float fast", "line 1: scan period \"fast\""},
    {"1 A READ1:1 float 100 heavy", "line 1: initial value \"heavy\" of a float tag"},
    {"1 A START_UP1:1 bool 100 maybe", "line 1: initial value \"maybe\" of a bool tag"},
    {"1 ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456 READ1:1 float 100", "line 1: name"},
    {"1 \"A READ1:1 float 100", "line 1: unterminated quote"},
    {"1 A READ1:1AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA float 100",
     "line 1: address \"READ1:1AAAA"},
    {"1 😀 READ1:1 float 100", "line 1: name \"😀\" has characters outside code page 936"},
    {"\n\n1 A READ1:1 float 100\n2 A READ2:1 float 100",
     "line 4: tag name \"A\" is already used on line 3"},
    {"7 A READ1:1 float 100\n# gap\n7 B READ2:1 float 100",
     "line 3: tag id 7 is already used on line 1"},
    {"# only comments\n\n", "no tag defined"},
    {"", "no tag defined"},
};

TEST(TagFile, BadLinesAreRefusedWithTheirLineNumber) {
  for (const BadLine& c : kBadLines) {
    SCOPED_TRACE(c.text);
    const TagFile file = ParseTagFile(c.text);
    ASSERT_EQ(file.errors.size(), 1u);
    EXPECT_EQ(file.errors[0].rfind(c.error, 0), 0u) << file.errors[0];
  }
}

TEST(TagFile, EveryBadLineIsReportedNotOnlyTheFirst) {
  const TagFile file = ParseTagFile(
      "1 A READ1:1 float 100\n"
      "2 B READ1:1 float\n"
      "3 C READ1:1 float 100\n"
      "4 D READ1:1 colour 100\n");
  ASSERT_EQ(file.errors.size(), 2u);
  EXPECT_EQ(file.errors[0].rfind("line 2:", 0), 0u);
  EXPECT_EQ(file.errors[1].rfind("line 4:", 0), 0u);
}

TEST(TagFile, AMissingFileIsAnError) {
  const TagFile file = ReadTagFile("/nonexistent/tags.txt");
  ASSERT_EQ(file.errors.size(), 1u);
  EXPECT_EQ(file.errors[0], "cannot open /nonexistent/tags.txt");
}

}  // namespace
}  // namespace tk571::host
