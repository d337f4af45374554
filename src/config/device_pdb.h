// The device parameter block: the driver's whole configuration as the host
// stores it, an opaque record of 26508 bytes. The layout is a storage format;
// every field is reached through a named accessor over the raw bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tk571 {

inline constexpr std::size_t kPdbSize = 26508;
inline constexpr int kDeviceCount = 100;
inline constexpr uint8_t kEmptyTypeCode = 1;

namespace pdb_layout {
// Header.
inline constexpr std::size_t kDebugEnabled = 0;
inline constexpr std::size_t kLogErrors = 1;
inline constexpr std::size_t kLogTrace = 2;
inline constexpr std::size_t kCommTimeoutMs = 4;
inline constexpr std::size_t kReservedHeaderWord = 6;
inline constexpr std::size_t kWriteRetries = 8;
inline constexpr std::size_t kConnectMode = 9;
inline constexpr std::size_t kCurrentEntry = 12;
// Device entries.
inline constexpr std::size_t kEntriesOffset = 16;
inline constexpr std::size_t kEntrySize = 264;
inline constexpr std::size_t kEntryDeviceNumber = 0;
inline constexpr std::size_t kEntryTypeCode = 4;
inline constexpr std::size_t kEntryTypeName = 5;
inline constexpr std::size_t kEntryTypeNameMax = 46;
inline constexpr std::size_t kEntryReservedArea = 52;
inline constexpr std::size_t kEntryReservedAreaSize = 200;
inline constexpr std::size_t kEntryFlagA = 252;
inline constexpr std::size_t kEntryFlagB = 253;
inline constexpr std::size_t kEntryWords = 254;  // four u16 at 254, 256, 258, 260
inline constexpr int kEntryWordCount = 4;
// Serial settings.
inline constexpr std::size_t kPort = 26416;
inline constexpr std::size_t kBaudIndex = 26417;
inline constexpr std::size_t kDataBitsCode = 26418;
inline constexpr std::size_t kStopBitsCode = 26419;
inline constexpr std::size_t kParityCode = 26420;
inline constexpr std::size_t kReservedText = 26421;
inline constexpr std::size_t kReservedTextMax = 32;
inline constexpr std::size_t kModemInit = 26454;
inline constexpr std::size_t kModemInitMax = 50;
static_assert(kEntriesOffset + kDeviceCount * kEntrySize == kPort);
static_assert(kModemInit + 1 + kModemInitMax + 3 == kPdbSize);
}  // namespace pdb_layout

// A parameter block held by value. Host blocks are loaded into one with
// Load() and written back with Store(); nothing else touches host memory.
class TDevicePDB {
 public:
  TDevicePDB() { raw_.fill(0); }

  static TDevicePDB Load(const void* host_block);
  void Store(void* host_block) const;

  const uint8_t* data() const { return raw_.data(); }
  uint8_t* data() { return raw_.data(); }

  // Header.
  uint8_t DebugEnabled() const { return U8(pdb_layout::kDebugEnabled); }
  void SetDebugEnabled(uint8_t v) { SetU8(pdb_layout::kDebugEnabled, v); }
  uint8_t LogErrors() const { return U8(pdb_layout::kLogErrors); }
  void SetLogErrors(uint8_t v) { SetU8(pdb_layout::kLogErrors, v); }
  uint8_t LogTrace() const { return U8(pdb_layout::kLogTrace); }
  void SetLogTrace(uint8_t v) { SetU8(pdb_layout::kLogTrace, v); }
  uint16_t CommTimeoutMs() const { return U16(pdb_layout::kCommTimeoutMs); }
  void SetCommTimeoutMs(uint16_t v) { SetU16(pdb_layout::kCommTimeoutMs, v); }
  uint8_t WriteRetries() const { return U8(pdb_layout::kWriteRetries); }
  void SetWriteRetries(uint8_t v) { SetU8(pdb_layout::kWriteRetries, v); }
  uint8_t ConnectMode() const { return U8(pdb_layout::kConnectMode); }
  void SetConnectMode(uint8_t v) { SetU8(pdb_layout::kConnectMode, v); }
  uint32_t CurrentEntry() const { return U32(pdb_layout::kCurrentEntry); }
  void SetCurrentEntry(uint32_t v) { SetU32(pdb_layout::kCurrentEntry, v); }

  // Device entries, i = 0..99.
  uint32_t DeviceNumber(int i) const { return U32(Entry(i) + pdb_layout::kEntryDeviceNumber); }
  void SetDeviceNumber(int i, uint32_t v) { SetU32(Entry(i) + pdb_layout::kEntryDeviceNumber, v); }
  uint8_t TypeCode(int i) const { return U8(Entry(i) + pdb_layout::kEntryTypeCode); }
  void SetTypeCode(int i, uint8_t v) { SetU8(Entry(i) + pdb_layout::kEntryTypeCode, v); }
  std::string TypeName(int i) const {
    return ShortString(Entry(i) + pdb_layout::kEntryTypeName, pdb_layout::kEntryTypeNameMax);
  }
  void SetTypeName(int i, std::string_view name) {
    SetShortString(Entry(i) + pdb_layout::kEntryTypeName, pdb_layout::kEntryTypeNameMax, name);
  }
  // The stored length byte, which may exceed the field on a damaged block.
  uint8_t TypeNameLength(int i) const { return U8(Entry(i) + pdb_layout::kEntryTypeName); }
  // A type code that is not a row of the device type table counts as empty.
  bool InUse(int i) const;

  // Serial settings.
  uint8_t Port() const { return U8(pdb_layout::kPort); }
  void SetPort(uint8_t v) { SetU8(pdb_layout::kPort, v); }
  uint8_t BaudIndex() const { return U8(pdb_layout::kBaudIndex); }
  void SetBaudIndex(uint8_t v) { SetU8(pdb_layout::kBaudIndex, v); }
  uint8_t DataBitsCode() const { return U8(pdb_layout::kDataBitsCode); }
  void SetDataBitsCode(uint8_t v) { SetU8(pdb_layout::kDataBitsCode, v); }
  uint8_t StopBitsCode() const { return U8(pdb_layout::kStopBitsCode); }
  void SetStopBitsCode(uint8_t v) { SetU8(pdb_layout::kStopBitsCode, v); }
  uint8_t ParityCode() const { return U8(pdb_layout::kParityCode); }
  void SetParityCode(uint8_t v) { SetU8(pdb_layout::kParityCode, v); }
  std::string ModemInit() const {
    return ShortString(pdb_layout::kModemInit, pdb_layout::kModemInitMax);
  }
  void SetModemInit(std::string_view text) {
    SetShortString(pdb_layout::kModemInit, pdb_layout::kModemInitMax, text);
  }

  // Operations on whole blocks.
  void FillDefaults();
  // Copies field by field from `src`; padding and the reserved header byte
  // of this block stay as they were, type names are rebuilt from type codes.
  void CopyFrom(const TDevicePDB& src);
  // Empties every in-use entry whose stored type name is not its type's
  // name; true when an entry changed.
  bool Normalize();
  // Index of the first in-use entry, or 0 when there is none.
  int FirstUsedEntry() const;

 private:
  static std::size_t Entry(int i) {
    return pdb_layout::kEntriesOffset + static_cast<std::size_t>(i) * pdb_layout::kEntrySize;
  }
  uint8_t U8(std::size_t at) const { return raw_[at]; }
  void SetU8(std::size_t at, uint8_t v) { raw_[at] = v; }
  uint16_t U16(std::size_t at) const;
  void SetU16(std::size_t at, uint16_t v);
  uint32_t U32(std::size_t at) const;
  void SetU32(std::size_t at, uint32_t v);
  // Length-prefixed text; a length byte beyond `max` is read as `max`.
  std::string ShortString(std::size_t at, std::size_t max) const;
  void SetShortString(std::size_t at, std::size_t max, std::string_view text);
  void CopyBytes(const TDevicePDB& src, std::size_t at, std::size_t count);

  std::array<uint8_t, kPdbSize> raw_;
};

// The device type table: the controller types this driver supports.
// A code that is not a row (including 1, the empty entry) names "无效".
const std::string& DeviceTypeName(uint8_t type_code);
// The description the wizard shows beside a type, empty for no row.
const std::string& DeviceTypeDescription(uint8_t type_code);
bool IsDeviceTypeRow(uint8_t type_code);
// Position in the wizard's type drop-down to type code (1 outside the table).
uint8_t DeviceTypeCodeOfPosition(int position);

}  // namespace tk571
