// The marks a Linux terminal puts into checked input (PARMRK), as the port
// reads them: every form of mark, and marks cut apart by the end of a read.
#include "platform/parmrk_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tk571::platform {
namespace {

TEST(ParmrkDecoderTest, MarkedBytesAreDroppedAndCounted) {
  struct Case {
    const char* what;
    bool parity;
    std::vector<std::string> reads;
    std::string data;
    LineErrors errors;
  };
  const std::string ff(1, '\xFF');
  const std::string nul(1, '\0');
  const Case cases[] = {
      {"plain bytes", true, {"ST,GS\r\n"}, "ST,GS\r\n", {}},
      {"a real FF", true, {"A" + ff + ff + "B"}, "A" + ff + "B", {}},
      {"a NUL on the line", true, {"A" + nul + "B"}, "A" + nul + "B", {}},
      {"a parity error", true, {"+00" + ff + nul + "1" + "2.50"}, "+002.50", {1, 0, 0, 0}},
      {"a framing error on a line without parity",
       false,
       {ff + nul + "\x13" + "X"},
       "X",
       {0, 1, 0, 0}},
      {"a break", true, {"A" + ff + nul + nul + "B"}, "AB", {0, 0, 0, 1}},
      {"a NUL with a parity error counts as a break", false, {ff + nul + nul}, "", {0, 0, 0, 1}},
      {"mark cut after FF", true, {"A" + ff, nul + "xB"}, "AB", {1, 0, 0, 0}},
      {"mark cut after FF 00", true, {"A" + ff + nul, "xB"}, "AB", {1, 0, 0, 0}},
      {"real FF cut apart", true, {"A" + ff, ff + "B"}, "A" + ff + "B", {}},
      {"two marks in a row", false, {ff + nul + "a" + ff + nul + "b" + "C"}, "C", {0, 2, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ParmrkDecoder decoder(c.parity);
    LineErrors errors;
    std::string data;
    for (std::string read : c.reads) {
      const std::size_t kept =
          decoder.Decode(reinterpret_cast<uint8_t*>(read.data()), read.size(), errors);
      data += read.substr(0, kept);
    }
    EXPECT_EQ(data, c.data);
    EXPECT_EQ(errors, c.errors);
  }
}

}  // namespace
}  // namespace tk571::platform
