#include "config/device_pdb.h"

#include <algorithm>
#include <cstring>

#include "platform/gbk.h"

namespace tk571 {

namespace L = pdb_layout;

namespace {

constexpr uint8_t kTk571TypeCode = 0;
constexpr uint16_t kEntryWordDefaults[L::kEntryWordCount] = {80, 32, 8, 49};

}  // namespace

bool IsDeviceTypeRow(uint8_t type_code) {
  return type_code == kTk571TypeCode;
}

const std::string& DeviceTypeName(uint8_t type_code) {
  static const std::string tk571 = "TK571";
  return IsDeviceTypeRow(type_code) ? tk571 : TK571_GBK("无效");
}

const std::string& DeviceTypeDescription(uint8_t type_code) {
  static const std::string none;
  return IsDeviceTypeRow(type_code)
             ? TK571_GBK(
                   "TK571支持8种标签，包括ENQ, READ,LOAD_SETM、M_FINAL, M_COARSE,M_FINE,START_UP。")
             : none;
}

uint8_t DeviceTypeCodeOfPosition(int position) {
  return position == 0 ? kTk571TypeCode : kEmptyTypeCode;
}

TDevicePDB TDevicePDB::Load(const void* host_block) {
  TDevicePDB block;
  std::memcpy(block.raw_.data(), host_block, kPdbSize);
  return block;
}

void TDevicePDB::Store(void* host_block) const {
  std::memcpy(host_block, raw_.data(), kPdbSize);
}

uint16_t TDevicePDB::U16(std::size_t at) const {
  return static_cast<uint16_t>(raw_[at] | (raw_[at + 1] << 8));
}

void TDevicePDB::SetU16(std::size_t at, uint16_t v) {
  raw_[at] = static_cast<uint8_t>(v);
  raw_[at + 1] = static_cast<uint8_t>(v >> 8);
}

uint32_t TDevicePDB::U32(std::size_t at) const {
  return static_cast<uint32_t>(raw_[at]) | static_cast<uint32_t>(raw_[at + 1]) << 8 |
         static_cast<uint32_t>(raw_[at + 2]) << 16 | static_cast<uint32_t>(raw_[at + 3]) << 24;
}

void TDevicePDB::SetU32(std::size_t at, uint32_t v) {
  for (int b = 0; b < 4; ++b) raw_[at + b] = static_cast<uint8_t>(v >> (8 * b));
}

std::string TDevicePDB::ShortString(std::size_t at, std::size_t max) const {
  const std::size_t length = std::min<std::size_t>(raw_[at], max);
  return std::string(reinterpret_cast<const char*>(&raw_[at + 1]), length);
}

void TDevicePDB::SetShortString(std::size_t at, std::size_t max, std::string_view text) {
  const std::size_t length = std::min(text.size(), max);
  raw_[at] = static_cast<uint8_t>(length);
  std::memcpy(&raw_[at + 1], text.data(), length);
}

void TDevicePDB::CopyBytes(const TDevicePDB& src, std::size_t at, std::size_t count) {
  std::memcpy(&raw_[at], &src.raw_[at], count);
}

void TDevicePDB::FillDefaults() {
  SetCurrentEntry(0);
  SetDebugEnabled(0);
  SetLogErrors(0);
  SetLogTrace(0);
  SetConnectMode(0);
  SetPort(0);
  SetBaudIndex(6);
  SetDataBitsCode(3);
  SetStopBitsCode(0);
  SetParityCode(2);
  SetCommTimeoutMs(100);
  SetU16(L::kReservedHeaderWord, 0);
  SetWriteRetries(2);
  for (int i = 0; i < kDeviceCount; ++i) {
    const std::size_t e = Entry(i);
    SetDeviceNumber(i, static_cast<uint32_t>(i));
    SetTypeCode(i, kEmptyTypeCode);
    SetU8(e + L::kEntryFlagA, 0);
    SetU8(e + L::kEntryFlagB, 0);
    for (int w = 0; w < L::kEntryWordCount; ++w)
      SetU16(e + L::kEntryWords + 2 * w, kEntryWordDefaults[w]);
    std::memset(&raw_[e + L::kEntryReservedArea], 0, L::kEntryReservedAreaSize);
  }
  SetTypeCode(0, DeviceTypeCodeOfPosition(0));
  // Storing the name as well lets the default device survive the first
  // normalisation of a block fresh from the defaults.
  SetTypeName(0, DeviceTypeName(TypeCode(0)));
}

void TDevicePDB::CopyFrom(const TDevicePDB& src) {
  for (std::size_t at :
       {L::kDebugEnabled, L::kLogErrors, L::kLogTrace, L::kConnectMode, L::kWriteRetries})
    CopyBytes(src, at, 1);
  CopyBytes(src, L::kCurrentEntry, 4);
  CopyBytes(src, L::kReservedHeaderWord, 2);
  CopyBytes(src, L::kCommTimeoutMs, 2);
  SetShortString(L::kReservedText, L::kReservedTextMax,
                 src.ShortString(L::kReservedText, L::kReservedTextMax));
  for (int i = 0; i < kDeviceCount; ++i) {
    const std::size_t e = Entry(i);
    CopyBytes(src, e + L::kEntryDeviceNumber, 4);
    CopyBytes(src, e + L::kEntryTypeCode, 1);
    SetTypeName(i, DeviceTypeName(TypeCode(i)));
    CopyBytes(src, e + L::kEntryFlagA, 2);
    CopyBytes(src, e + L::kEntryWords, 2 * L::kEntryWordCount);
    CopyBytes(src, e + L::kEntryReservedArea, L::kEntryReservedAreaSize);
  }
  CopyBytes(src, L::kPort, L::kParityCode - L::kPort + 1);
  SetModemInit(src.ModemInit());
}

bool TDevicePDB::Normalize() {
  bool changed = false;
  for (int i = 0; i < kDeviceCount; ++i) {
    const uint8_t code = TypeCode(i);
    if (code == kEmptyTypeCode) continue;
    const std::string& expected = DeviceTypeName(code);
    const bool matches =
        IsDeviceTypeRow(code) && TypeNameLength(i) == expected.size() && TypeName(i) == expected;
    if (matches) continue;
    raw_[Entry(i) + L::kEntryTypeName] = 0;
    SetTypeCode(i, kEmptyTypeCode);
    changed = true;
  }
  return changed;
}

bool TDevicePDB::InUse(int i) const {
  return IsDeviceTypeRow(TypeCode(i));
}

int TDevicePDB::FirstUsedEntry() const {
  for (int i = 0; i < kDeviceCount; ++i)
    if (InUse(i)) return i;
  return 0;
}

}  // namespace tk571
