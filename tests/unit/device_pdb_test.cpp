// The parameter block is a storage format: these tests look at its bytes.
#include "config/device_pdb.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/gbk.h"

namespace tk571 {
namespace {

namespace L = pdb_layout;

uint16_t U16At(const TDevicePDB& b, std::size_t at) {
  return b.data()[at] | b.data()[at + 1] << 8;
}

TDevicePDB Filled(uint8_t byte) {
  TDevicePDB b;
  std::memset(b.data(), byte, kPdbSize);
  return b;
}

TEST(DevicePdbTest, DefaultsHoldOneTk571DeviceAndTheSerialDefaults) {
  TDevicePDB b = Filled(0xAB);
  b.FillDefaults();
  EXPECT_EQ(b.CurrentEntry(), 0u);
  EXPECT_EQ(b.DebugEnabled(), 0);
  EXPECT_EQ(b.LogErrors(), 0);
  EXPECT_EQ(b.LogTrace(), 0);
  EXPECT_EQ(b.CommTimeoutMs(), 100);
  EXPECT_EQ(U16At(b, L::kReservedHeaderWord), 0);
  EXPECT_EQ(b.WriteRetries(), 2);
  EXPECT_EQ(b.ConnectMode(), 0);
  EXPECT_EQ(b.Port(), 0);
  EXPECT_EQ(b.BaudIndex(), 6);
  EXPECT_EQ(b.DataBitsCode(), 3);
  EXPECT_EQ(b.StopBitsCode(), 0);
  EXPECT_EQ(b.ParityCode(), 2);
  EXPECT_EQ(b.TypeCode(0), 0);
  EXPECT_EQ(b.TypeName(0), "TK571");
  for (int i = 0; i < kDeviceCount; ++i) {
    SCOPED_TRACE(i);
    const std::size_t e = L::kEntriesOffset + i * L::kEntrySize;
    EXPECT_EQ(b.DeviceNumber(i), static_cast<uint32_t>(i));
    if (i > 0) {
      EXPECT_EQ(b.TypeCode(i), kEmptyTypeCode);
    }
    EXPECT_EQ(b.data()[e + 252], 0);
    EXPECT_EQ(b.data()[e + 253], 0);
    EXPECT_EQ(U16At(b, e + 254), 80);
    EXPECT_EQ(U16At(b, e + 256), 32);
    EXPECT_EQ(U16At(b, e + 258), 8);
    EXPECT_EQ(U16At(b, e + 260), 49);
    for (std::size_t k = 0; k < L::kEntryReservedAreaSize; ++k) ASSERT_EQ(b.data()[e + 52 + k], 0);
    // Names of empty entries, padding and the reserved header byte are not defined.
    if (i > 0) {
      EXPECT_EQ(b.data()[e + L::kEntryTypeName], 0xAB);
    }
    EXPECT_EQ(b.data()[e + 262], 0xAB);
  }
  EXPECT_EQ(b.data()[3], 0xAB);
  EXPECT_EQ(b.data()[L::kReservedText], 0xAB);
  EXPECT_EQ(b.data()[L::kModemInit], 0xAB);
  EXPECT_EQ(b.FirstUsedEntry(), 0);
}

TEST(DevicePdbTest, DefaultDeviceSurvivesNormalisation) {
  TDevicePDB b;
  b.FillDefaults();
  EXPECT_FALSE(b.Normalize());
  EXPECT_TRUE(b.InUse(0));
}

TEST(DevicePdbTest, CopyRebuildsTypeNamesAndKeepsReservedBytes) {
  TDevicePDB src = Filled(0x5A);
  src.FillDefaults();
  src.SetTypeCode(7, 0);
  src.SetTypeName(7, "garbage!");
  src.SetTypeName(8, "more garbage");
  src.data()[L::kEntriesOffset + 7 * L::kEntrySize + 52 + 13] = 0x77;
  src.data()[L::kReservedHeaderWord] = 0x12;
  src.SetModemInit("ATZ");
  const char reserved_text[] = "\x05hello";
  std::memcpy(src.data() + L::kReservedText, reserved_text, 6);

  TDevicePDB dst = Filled(0xC3);
  dst.CopyFrom(src);
  EXPECT_EQ(dst.TypeName(7), "TK571");
  EXPECT_EQ(dst.TypeName(8), platform::ToGbk("无效"));
  EXPECT_EQ(dst.data()[L::kEntriesOffset + 7 * L::kEntrySize + 52 + 13], 0x77);
  EXPECT_EQ(dst.data()[L::kReservedHeaderWord], 0x12);
  EXPECT_EQ(dst.ModemInit(), "ATZ");
  EXPECT_EQ(std::memcmp(dst.data() + L::kReservedText, reserved_text, 6), 0);
  // Padding and the reserved header byte are the destination's own.
  EXPECT_EQ(dst.data()[3], 0xC3);
  EXPECT_EQ(dst.data()[10], 0xC3);
  EXPECT_EQ(dst.data()[L::kEntriesOffset + 262], 0xC3);
  EXPECT_EQ(dst.data()[26505], 0xC3);
  // Everything the copy defines equals the source.
  for (std::size_t at :
       {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{4}, std::size_t{8},
        std::size_t{9}, std::size_t{12}, L::kPort, L::kBaudIndex, L::kParityCode})
    EXPECT_EQ(dst.data()[at], src.data()[at]) << at;
}

TEST(DevicePdbTest, NormaliseEmptiesEntriesWithForeignNames) {
  struct Case {
    const char* what;
    uint8_t code;
    std::string name;
    bool changed;
  };
  const std::vector<Case> cases = {
      {"matching name", 0, "TK571", false},
      {"one character changed", 0, "TK570", true},
      {"longer name", 0, "TK5710", true},
      {"empty name", 0, "", true},
      {"code that is no row", 9, "TK571", true},
      {"code that is no row, empty name", 200, platform::ToGbk("无效"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TDevicePDB b;
    b.FillDefaults();
    b.SetTypeCode(0, kEmptyTypeCode);
    b.SetTypeCode(5, c.code);
    b.SetTypeName(5, c.name);
    EXPECT_EQ(b.Normalize(), c.changed);
    EXPECT_EQ(b.InUse(5), !c.changed);
    if (c.changed) {
      EXPECT_EQ(b.TypeCode(5), kEmptyTypeCode);
      EXPECT_EQ(b.TypeNameLength(5), 0);
      EXPECT_EQ(b.FirstUsedEntry(), 0);
    } else {
      EXPECT_EQ(b.FirstUsedEntry(), 5);
    }
  }
}

TEST(DevicePdbTest, DamagedLengthByteNeverReadsPastTheField) {
  TDevicePDB b;
  b.FillDefaults();
  b.data()[L::kEntriesOffset + L::kEntryTypeName] = 255;
  EXPECT_EQ(b.TypeName(0).size(), L::kEntryTypeNameMax);
  EXPECT_TRUE(b.Normalize());
}

TEST(DevicePdbTest, TypeTables) {
  EXPECT_EQ(DeviceTypeName(0), "TK571");
  EXPECT_EQ(DeviceTypeName(1), platform::ToGbk("无效"));
  EXPECT_EQ(DeviceTypeName(77), platform::ToGbk("无效"));
  EXPECT_EQ(DeviceTypeCodeOfPosition(0), 0);
  EXPECT_EQ(DeviceTypeCodeOfPosition(1), 1);
  EXPECT_EQ(DeviceTypeCodeOfPosition(-1), 1);
  EXPECT_EQ(DeviceTypeCodeOfPosition(50), 1);
  EXPECT_TRUE(DeviceTypeDescription(1).empty());
  EXPECT_EQ(DeviceTypeDescription(0).substr(0, 5), "TK571");
}

}  // namespace
}  // namespace tk571
