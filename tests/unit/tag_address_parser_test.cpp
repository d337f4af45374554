// The tag address parser on its own, against a table of its own: which value
// every part gets and what it notes (a missing part with its fallback, an
// illegal one), and the normal form.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "engine/tag_address.h"

namespace tk571 {
namespace {

// AI: channels 1..8, no bits; AIB: a longer name with the same start; DI:
// channels from 0, bits 0..15.
constexpr std::array<TagTypeRow, 3> kTypes = {{
    {"AI", 1, 0, 0, 1, 8, kNoLimit, kNoLimit},
    {"AIB", 1, 0, 0, 5, 8, kNoLimit, kNoLimit},
    {"DI", 1, 1, 0, 0, 31, 0, 15},
}};

constexpr AddressNote kOk = AddressNote::kNone;
constexpr AddressNote kMissing = AddressNote::kMissing;
constexpr AddressNote kIllegal = AddressNote::kIllegal;

struct Part {
  int32_t value;
  AddressNote note;
};

struct Case {
  std::string address;
  int32_t type;
  Part device;
  Part channel;
  Part bit;
  std::array<Part, 3> segments;
  std::string normalised;
};

// Devices 2 and 3 configured; the default device is 2.
TDevicePDB Block() {
  TDevicePDB b;
  b.FillDefaults();
  b.SetTypeCode(0, kEmptyTypeCode);
  b.SetTypeCode(2, 0);
  b.SetTypeCode(3, 0);
  return b;
}

TEST(TagAddressParserTest, PartsNotesAndNormalForm) {
  constexpr Part kNoSegment{0, kOk};
  constexpr std::array<Part, 3> kNoSegments{kNoSegment, kNoSegment, kNoSegment};
  const std::vector<Case> cases = {
      {"AI2:3", 0, {2, kOk}, {3, kOk}, {-1, kOk}, kNoSegments, "AI2:3.-1"},
      {"ai3:8", 0, {3, kOk}, {8, kOk}, {-1, kOk}, kNoSegments, "AI3:8.-1"},
      // No colon: the default device, and the channel falls back to the
      // type's first.
      {"AI", 0, {2, kMissing}, {1, kMissing}, {-1, kOk}, kNoSegments, "AI2:1.-1"},
      {"AIB3:6", 1, {3, kOk}, {6, kOk}, {-1, kOk}, kNoSegments, "AIB3:6.-1"},
      {"DI2:4.7", 2, {2, kOk}, {4, kOk}, {7, kOk}, kNoSegments, "DI2:4.7"},
      {"DI2:4", 2, {2, kOk}, {4, kOk}, {0, kMissing}, kNoSegments, "DI2:4.0"},
      // A dot with nothing after it counts as no bit.
      {"DI2:4.", 2, {2, kOk}, {4, kOk}, {0, kMissing}, kNoSegments, "DI2:4.0"},
      {"DI2:4.+", 2, {2, kOk}, {4, kOk}, {-1, kIllegal}, kNoSegments, "DI2:4.-1"},
      {"DI2:x.7", 2, {2, kOk}, {-1, kIllegal}, {7, kOk}, kNoSegments, "DI2:-1.7"},
      // Full-width colon and dot.
      {"DI3\xA3\xBA"
       "5\xA1\xA3"
       "9",
       2,
       {3, kOk},
       {5, kOk},
       {9, kOk},
       kNoSegments,
       "DI3:5.9"},
      {"DI2:1.2.3.4.5",
       2,
       {2, kOk},
       {1, kOk},
       {2, kOk},
       {{{3, kOk}, {4, kOk}, {5, kOk}}},
       "DI2:1.2"},
      {"DI2:1.2.z",
       2,
       {2, kOk},
       {1, kOk},
       {2, kOk},
       {{{-1, kIllegal}, kNoSegment, kNoSegment}},
       "DI2:1.2"},
      // A device that is not configured has no channel, bit or segment.
      {"DI7:1.2.3",
       2,
       {7, kOk},
       {-1, kOk},
       {-1, kOk},
       {{{-1, kOk}, {-1, kOk}, {-1, kOk}}},
       "DI7:-1.-1"},
      {"DIx:1",
       2,
       {-1, kIllegal},
       {-1, kOk},
       {-1, kOk},
       {{{-1, kOk}, {-1, kOk}, {-1, kOk}}},
       "DI-1:-1.-1"},
      // An unknown type reads nothing and is shown with the table's first name.
      {"XY2:1",
       -1,
       {-1, kOk},
       {-1, kOk},
       {-1, kOk},
       {{{-1, kOk}, {-1, kOk}, {-1, kOk}}},
       "AI-1:-1.-1"},
      {"", -1, {-1, kOk}, {-1, kOk}, {-1, kOk}, {{{-1, kOk}, {-1, kOk}, {-1, kOk}}}, "AI-1:-1.-1"},
  };
  const TDevicePDB block = Block();
  const auto expect_part = [](const AddressPart& got, const Part& want, const char* what) {
    EXPECT_EQ(got.value, want.value) << what;
    EXPECT_EQ(got.note, want.note) << what;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    const ParsedAddress parsed = ParseTagAddress(kTypes, c.address, 2, block);
    EXPECT_EQ(parsed.type_index, c.type);
    expect_part(parsed.device, c.device, "device");
    expect_part(parsed.channel, c.channel, "channel");
    expect_part(parsed.bit, c.bit, "bit");
    for (std::size_t i = 0; i < 3; ++i) expect_part(parsed.segments[i], c.segments[i], "segment");
    EXPECT_EQ(parsed.normalised, c.normalised);
  }
}

}  // namespace
}  // namespace tk571
