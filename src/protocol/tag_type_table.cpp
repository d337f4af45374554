#include "protocol/tag_type_table.h"

#include <array>

#include "engine/run_log.h"

namespace tk571 {

namespace {

constexpr int32_t kNone = -1;

using namespace frame_kind;
using answer_kind::kAddressed;
using answer_kind::kWhole;
using answer_kind::kWithStatus;
using value_kind::kEmptyText;
using value_kind::kInteger;
constexpr uint8_t kNoValue = value_kind::kNone;

// Every type has a channel from 1 up to its maximum and no bit number. An
// M_ value type names its material by the channel; the controller answers
// with the prompt label ("M1 FINAL") rather than an address.
// clang-format off
constexpr std::array<ControllerTypeRow, kTagTypeCount> kRows = {{
//  engine: name, readable, writable, read value kind, channel min/max, bit min/max
//  read/write frame kind, read/write prefix, read/write command word, write value kind,
//  value width, address length, address field width, hex address, hex value, terminator,
//  read/write answer kind, read/write answer prefix, read/write answer word, leading removed,
//  status length
  {{"ENQ", 1, 0, kEmptyText, 1, 4, kNone, kNone},
   kReadWord, kEmpty, "", "", "", "", kNoValue, 18, 4, kNone, false, false, kCrLf,
   kAddressed, kWhole, "", "", "", "", kNone, kNone},
  {{"READ", 1, 0, kEmptyText, 1, 1, kNone, kNone},
   kReadCommand, kEmpty, "", "", "READ", "", kNoValue, kNone, 1, kNone, false, false, kCrLf,
   kAddressed, kWhole, "", "", "", "", 0, kNone},
  {{"M_FINAL", 1, 1, kInteger, 1, 4, kNone, kNone},
   kPrefixWord, kWithValue, "", "", "", "", kInteger, kNone, 1, kNone, false, false, kCrLf,
   kWhole, kWhole, "", "", "", "", kNone, kNone},
  {{"M_COARSE", 1, 1, kInteger, 1, 4, kNone, kNone},
   kPrefixWord, kWithValue, "", "", "", "", kInteger, kNone, 1, kNone, false, false, kCrLf,
   kWhole, kWhole, "", "", "", "", kNone, kNone},
  {{"M_FINE", 1, 1, kInteger, 1, 4, kNone, kNone},
   kPrefixWord, kWithValue, "", "", "", "", kInteger, kNone, 1, kNone, false, false, kCrLf,
   kWithStatus, kWhole, "", "", "", "", 1, 1},
  {{"M_MEDIUM", 1, 1, kInteger, 1, 4, kNone, kNone},
   kPrefixWord, kWithValue, "", "", "", "", kInteger, kNone, 1, kNone, false, false, kCrLf,
   kWithStatus, kWhole, "", "", "", "", 3, kNone},
  {{"LOAD_SETM", 0, 1, kNoValue, 1, 1, kNone, kNone},
   kPrefixWord, kCommandWord, "", "", "", "R", kNoValue, kNone, 1, kNone, false, false, kCrLf,
   kAddressed, kWhole, "", "", "", "", kNone, kNone},
  {{"START_UP", 0, 1, kNoValue, 1, 1, kNone, kNone},
   kPrefixWord, kReadCommand, "", "", "", "", kNoValue, kNone, 1, kNone, false, false, kCrLf,
   kAddressed, kWhole, "", "", "", "", kNone, kNone},
  {{"READ_SETM", 0, 1, kNoValue, 1, 1, kNone, kNone},
   kPrefixWord, kReadCommand, "", "", "", "R", kNoValue, kNone, 1, kNone, false, false, kCrLf,
   kAddressed, kWhole, "", "", "", "", kNone, kNone},
}};
// clang-format on

constexpr std::array<TagTypeRow, kTagTypeCount> kEngineRows = [] {
  std::array<TagTypeRow, kTagTypeCount> rows{};
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = kRows[i].Engine;
  return rows;
}();

constexpr std::array<EchoCode, 2> kEchoCodes = {{
    {"!", "读写正常"},
    {"?", "非法的命令"},
}};

}  // namespace

std::span<const ControllerTypeRow> ControllerTypeRows() {
  return kRows;
}

const ControllerTypeRow* ControllerTypeRowAt(int32_t type_index) {
  if (type_index < 0 || type_index >= kTagTypeCount) return nullptr;
  return &kRows[static_cast<std::size_t>(type_index)];
}

TagTypeTable ControllerTagTypes() {
  return kEngineRows;
}

std::span<const EchoCode> EchoCodes() {
  return kEchoCodes;
}

}  // namespace tk571
