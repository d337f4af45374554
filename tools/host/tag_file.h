// The host's tag definitions, read from a small text file (UTF-8):
//
//   # id  name       address    kind    scan   [initial]
//   1     Link       COMMLINK   string  500ms
//   10    "秤1 重量"  READ1:1    float   200    0
//
// One tag a line; '#' starts a comment. kind is float (also analog, number,
// 0), bool (switch, 1) or string (text, 2); scan is the period the host asks
// for, in ms unless it carries a unit (200, 200ms, 1s). The initial value is a
// number, a switch word (0/1, on/off, true/false) or a text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tk571/driver.h"

namespace tk571::host {

// Tag ids index an array in the driver; a SCADA host numbers its tags densely.
inline constexpr uint32_t kMaxTagId = 65535;
inline constexpr std::size_t kMaxNameBytes = sizeof(TTagInfo::Name);
inline constexpr std::size_t kMaxAddressBytes = sizeof(TTagInfo::Address);

// No initial value, a number, a switch, or a text in GBK.
using InitialValue = std::variant<std::monostate, double, bool, std::string>;

struct TagDefinition {
  uint32_t id = 0;
  std::string name;         // UTF-8, for the terminal
  std::string name_gbk;     // as the driver gets it
  std::string address;      // UTF-8
  std::string address_gbk;  // as the driver gets it
  uint8_t kind = TK571_VALUE_FLOAT;
  uint32_t scan_ms = 0;
  InitialValue initial;
  int line = 0;
};

struct TagFile {
  std::vector<TagDefinition> tags;
  // "line N: reason", in line order; the tags are unusable when any is set.
  std::vector<std::string> errors;
};

TagFile ParseTagFile(std::string_view text);
// Errors also for a file that cannot be read.
TagFile ReadTagFile(const std::string& path);

// "float", "bool", "string".
std::string_view KindName(uint8_t kind);

}  // namespace tk571::host
