// The controller's tag types: one constant table with the columns the engine
// reads (names, flags, address ranges) and the request and reply columns the
// protocol layer reads.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/tag_type.h"

namespace tk571 {

enum TagTypeIndex : int32_t {
  kTypeENQ = 0,
  kTypeREAD = 1,
  kTypeM_FINAL = 2,
  kTypeM_COARSE = 3,
  kTypeM_FINE = 4,
  kTypeM_MEDIUM = 5,
  kTypeLOAD_SETM = 6,
  kTypeSTART_UP = 7,
  kTypeREAD_SETM = 8,
};
inline constexpr int32_t kTagTypeCount = 9;

// Request frame kinds.
namespace frame_kind {
inline constexpr uint8_t kEmpty = 0;        // write: no body
inline constexpr uint8_t kCommandWord = 1;  // write: prefix + command word
inline constexpr uint8_t kReadWord = 3;     // read: prefix + "READ"
inline constexpr uint8_t kReadCommand = 4;  // read: prefix + command word; write: same, or
                                            // the start/abort word of START_UP
inline constexpr uint8_t kWithValue = 6;    // write: prefix + command word + value text
inline constexpr uint8_t kPrefixWord = 8;   // read: prefix + command word
}  // namespace frame_kind

// Value text kinds.
namespace value_kind {
inline constexpr uint8_t kNone = 3;
inline constexpr uint8_t kEmptyText = 14;
inline constexpr uint8_t kInteger = 15;
}  // namespace value_kind

// Reply (answer) kinds.
namespace answer_kind {
inline constexpr uint8_t kWhole = 0;
inline constexpr uint8_t kAddressed = 2;
inline constexpr uint8_t kCommandWord = 5;
inline constexpr uint8_t kWithStatus = 6;
}  // namespace answer_kind

struct ControllerTypeRow {
  TagTypeRow Engine;  // name, readable/writable flags, read value kind, address ranges
  // Request side.
  uint8_t ReadFrameKind;
  uint8_t WriteFrameKind;
  std::string_view ReadPrefix;
  std::string_view WritePrefix;
  std::string_view ReadCommandWord;
  std::string_view WriteCommandWord;
  uint8_t WriteValueKind;  // the read kind is Engine.FormatCode
  int32_t ValueWidth;      // also the width of one channel's field in a reply
  int32_t AddrLength;
  int32_t AddrFieldWidth;
  bool HexAddress;
  bool HexValue;
  std::string_view Terminator;
  // Reply side.
  uint8_t ReadAnswerKind;
  uint8_t WriteAnswerKind;
  std::string_view ReadAnswerPrefix;
  std::string_view WriteAnswerPrefix;
  std::string_view ReadAnswerWord;
  std::string_view WriteAnswerWord;
  int32_t LeadingRemoved;  // answer kind 6; -1 removes nothing
  int32_t StatusLength;    // answer kind 6; -1 for none
};

// Settings of the whole protocol.
inline constexpr int32_t kStationFieldWidth = 0;
inline constexpr bool kHexStation = false;
inline constexpr int kChecksumNone = 0;
inline constexpr int kChecksumKind = kChecksumNone;
inline constexpr int32_t kChecksumWidth = 0;

struct EchoCode {
  std::string_view Code;
  std::string_view TextUtf8;
};

std::span<const ControllerTypeRow> ControllerTypeRows();
// The row of a tag type, or null for an index outside the table.
const ControllerTypeRow* ControllerTypeRowAt(int32_t type_index);
// The engine's columns of the same rows.
TagTypeTable ControllerTagTypes();
// Status codes a reply may begin with, in the order they are compared.
std::span<const EchoCode> EchoCodes();

}  // namespace tk571
