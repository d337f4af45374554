// Answers are found by their shape wherever they sit in the receive buffer.
#include "protocol/reply_shape.h"

#include <gtest/gtest.h>

#include <string>

namespace tk571 {
namespace {

struct ShapeCase {
  const char* what;
  std::string buffer;
  // Noise in front of the answer, or -1 when no whole answer is in.
  int begin;
  std::string line;
};

void Check(const ShapeCase& c, const std::optional<ShapeMatch>& match) {
  SCOPED_TRACE(c.what);
  if (c.begin < 0) {
    EXPECT_FALSE(match.has_value());
    return;
  }
  ASSERT_TRUE(match.has_value());
  EXPECT_EQ(match->begin, static_cast<std::size_t>(c.begin));
  EXPECT_EQ(match->line, c.line);
  EXPECT_EQ(match->end, match->begin + c.line.size() + 2);
}

TEST(ReplyShapeTest, WeighingAnswer) {
  const ShapeCase cases[] = {
      {"clean", "ST,GS,+0012.50kg\r\n", 0, "ST,GS,+0012.50kg"},
      {"unstable net", "US,NT,-0000.20kg\r\n", 0, "US,NT,-0000.20kg"},
      {"one noise byte", "\xffST,GS,+0012.50kg\r\n", 1, "ST,GS,+0012.50kg"},
      {"answer to R in front", "YES\r\nOL,NT,+0099.00kg\r\n", 5, "OL,NT,+0099.00kg"},
      {"status tail in front", "M4,NT,+0202.50kg\r\nST,NT,+0001.00kg\r\n", 18, "ST,NT,+0001.00kg"},
      {"late answer and the awaited one", "ST,GS,+0001.00kg\r\nST,GS,+0002.00kg\r\n", 18,
       "ST,GS,+0002.00kg"},
      {"no unit", "ST,GS,+0012.50\r\n", 0, "ST,GS,+0012.50"},
      {"value field not a number is still the shape", "ST,GS,+00?2.50kg\r\n", 0,
       "ST,GS,+00?2.50kg"},
      {"not ended", "ST,GS,+0012.50kg", -1, ""},
      {"CR LF only in front", "\r\nST,GS,+0012.50kg", -1, ""},
      {"fields without value", "OL,NT\r\n", -1, ""},
      {"unknown state", "??,GS,+0000.00kg\r\n", -1, ""},
      {"unknown kind", "OL,??,+0000.00kg\r\n", -1, ""},
      {"value field cut short by the line end", "ST,GS,+12\r\n", -1, ""},
      {"unit too long", "ST,GS,+0012.50kilogram\r\n", -1, ""},
      {"empty", "", -1, ""},
  };
  for (const ShapeCase& c : cases) Check(c, FindReading(c.buffer));
}

TEST(ReplyShapeTest, StatusLine) {
  const std::string line =
      "M1,NT,+0200.15kg, M2,NT,+0150.00kg, M3,NT,+0000.00kg, M4,NT,+0202.50kg\r\n";
  ASSERT_EQ(line.size(), 72u);
  const std::string body = line.substr(0, 70);
  const ShapeCase cases[] = {
      {"clean", line, 0, body},
      {"noise in front", std::string("\x00\x13", 2) + line, 2, body},
      {"answer to R in front", "YES\r\n" + line, 5, body},
      {"paused and not yet whole", line.substr(0, 18), -1, ""},
      {"fields out of order", "M2" + line.substr(2), -1, ""},
      {"one character short", line.substr(0, 40) + line.substr(41), -1, ""},
      {"not ended by CR LF", body + "\n\r", -1, ""},
  };
  for (const ShapeCase& c : cases) Check(c, FindStatusLine(c.buffer));
}

TEST(ReplyShapeTest, LinesHoldingAWord) {
  struct LineCase {
    ShapeCase shape;
    std::string part;
  };
  const LineCase cases[] = {
      {{"confirmation", "YES\r\n", 0, "YES"}, "YES"},
      {{"refusal", "NO ?\r\n", 0, "NO ?"}, "NO ?"},
      {{"noise in front of the line", "\xffYES\r\n", 0, "\xffYES"}, "YES"},
      {{"after another line", "?\r\nYES\r\n", 3, "YES"}, "YES"},
      {{"echo", "M1 FINAL 500\r\n", 0, "M1 FINAL 500"}, "M1 FINAL"},
      {{"not ended", "YES", -1, ""}, "YES"},
      {{"word split by a line end", "YE\r\nS\r\n", -1, ""}, "YES"},
      {{"ended only on an earlier line", "\r\nYES", -1, ""}, "YES"},
      {{"empty word", "YES\r\n", -1, ""}, ""},
  };
  for (const LineCase& c : cases) Check(c.shape, FindLineWith(c.shape.buffer, c.part));
}

TEST(ReplyShapeTest, MenuPrompt) {
  const ShapeCase cases[] = {
      {"clean", "M1 FINAL  0500\r\n", 0, "M1 FINAL  0500"},
      {"late answer to R in front", "YES\r\nM1 FINAL  0000\r\n", 5, "M1 FINAL  0000"},
      {"noise byte in front", "\xffM3 COARSE 0100\r\n", 1, "M3 COARSE 0100"},
      {"echo then the next prompt", "M1 FINE 5\r\nM2 FINAL  0300\r\n", 11, "M2 FINAL  0300"},
      {"material digit out of range is still the shape", "M9 FINAL  0000\r\n", 0, "M9 FINAL  0000"},
      {"next prompt not yet ended", "M1 FINAL  0500\r\nM1 COAR", 0, "M1 FINAL  0500"},
      {"refusal", "?\r\n", -1, ""},
      {"answer to R only", "YES\r\n", -1, ""},
      {"not ended", "M1 FINAL  0500", -1, ""},
      {"M without a digit", "MX FINAL\r\n", -1, ""},
      {"empty", "", -1, ""},
  };
  for (const ShapeCase& c : cases) Check(c, FindPrompt(c.buffer));
}

TEST(ReplyShapeTest, ValueField) {
  EXPECT_EQ(FieldValue("ST,GS,+0012.50kg"), 12.5);
  EXPECT_EQ(FieldValue("US,NT,-0000.20kg"), -0.2);
  EXPECT_EQ(FieldValue("ST,GS,  12 .5 kg"), 12.5);
  EXPECT_EQ(FieldValue("ST,GS,+00?2.50kg"), std::nullopt);
  EXPECT_EQ(FieldValue("ST,GS,        kg"), std::nullopt);
  EXPECT_EQ(FieldValue("ST,GS,"), std::nullopt);
}

}  // namespace
}  // namespace tk571
