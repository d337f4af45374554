// The tag kinds offered to the host's tag editor.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tk571 {

struct TagKind {
  const char* name;
  const char* description_utf8;
  uint8_t value_type;  // 0 floating point, 1 Boolean
  uint8_t access;      // 0 read, 1 write, 2 read and write
  double upper;
  double lower;
};

std::span<const TagKind> TagKinds();

}  // namespace tk571
