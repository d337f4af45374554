// Profile files as the host's tools write them, and the odd ones a plant
// may hold.
#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include "log/log_fixtures.h"

namespace tk571::platform {
namespace {

using tk571::testing::TempDir;
using tk571::testing::WriteFile;

TEST(IniFileTest, Lookup) {
  const struct {
    const char* name;
    const char* text;
    const char* expected;  // key "DefaultPROJECT" of section "WORKING", fallback "<none>"
  } cases[] = {
      {"plain", "[WORKING]\r\nDefaultPROJECT=D:\\P\\a.prj\r\n", "D:\\P\\a.prj"},
      {"case of names", "[working]\nDEFAULTproject=x\n", "x"},
      {"blanks", "  [ WORKING ]  \n  DefaultPROJECT  =   x y  \n", "x y"},
      {"double quotes", "[WORKING]\nDefaultPROJECT=\" x \"\n", " x "},
      {"single quotes", "[WORKING]\nDefaultPROJECT='x'\n", "x"},
      {"unmatched quote kept", "[WORKING]\nDefaultPROJECT=\"x\n", "\"x"},
      {"empty value", "[WORKING]\nDefaultPROJECT=\n", ""},
      {"equals in value", "[WORKING]\nDefaultPROJECT=a=b\n", "a=b"},
      {"comment line", "[WORKING]\n;DefaultPROJECT=no\nDefaultPROJECT=yes\n", "yes"},
      {"first key wins", "[WORKING]\nDefaultPROJECT=1\nDefaultPROJECT=2\n", "1"},
      {"first section wins", "[WORKING]\nOther=1\n[X]\n[WORKING]\nDefaultPROJECT=2\n", "<none>"},
      {"other section", "[X]\nDefaultPROJECT=1\n", "<none>"},
      {"key before any section", "DefaultPROJECT=1\n[WORKING]\n", "<none>"},
      {"old Mac line ends", "[WORKING]\rDefaultPROJECT=cr\r", "cr"},
      {"no final line end", "[WORKING]\nDefaultPROJECT=end", "end"},
      {"byte order mark", "\xEF\xBB\xBF[WORKING]\nDefaultPROJECT=bom\n", "bom"},
      {"broken header", "[WORKING\nDefaultPROJECT=1\n", "<none>"},
      {"empty text", "", "<none>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IniValueFromText(c.text, "WORKING", "DefaultPROJECT", "<none>"), c.expected)
        << c.name;
  }
}

TEST(IniFileTest, ValueEndsAtAZeroByteAndIsCutToTheReaderLimit) {
  const std::string nul("[S]\nK=ab\0cd\n", 12);
  EXPECT_EQ(IniValueFromText(nul, "S", "K", ""), "ab");
  const std::string huge = "[S]\nK=" + std::string(100000, 'v') + "\n";
  EXPECT_EQ(IniValueFromText(huge, "S", "K", "").size(), kIniMaxValueBytes);
}

TEST(IniFileTest, FilesBeyondTheReadLimitOrMissingGiveTheFallback) {
  TempDir tmp;
  EXPECT_EQ(ReadIniString(tmp / "missing.ini", "S", "K", "fb"), "fb");
  EXPECT_EQ(ReadIniString(tmp.dir(), "S", "K", "fb"), "fb") << "a directory";

  std::string big = "[S]\nEarly=1\n";
  big += std::string(kIniMaxFileBytes, '\n');
  big += "Late=2\n";
  WriteFile(tmp / "big.ini", big);
  EXPECT_EQ(ReadIniString(tmp / "big.ini", "S", "Early", "fb"), "1");
  EXPECT_EQ(ReadIniString(tmp / "big.ini", "S", "Late", "fb"), "fb");

  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
  WriteFile(tmp / "garbage.ini", garbage);
  EXPECT_EQ(ReadIniString(tmp / "garbage.ini", "WORKING", "DefaultPROJECT", "fb"), "fb");
}

}  // namespace
}  // namespace tk571::platform
