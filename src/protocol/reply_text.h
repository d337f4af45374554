// Small text routines of the protocol layer. Replies come from the line and
// are untrusted: every routine stays inside the text it is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/tag_value.h"

namespace tk571 {

inline bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// Up to `count` characters from the 1-based position `pos`; what lies outside
// the text is left out.
std::string_view SubText(std::string_view text, int64_t pos, int64_t count);

// Deletes every blank.
std::string RemoveSpaces(std::string_view text);

// A whole text read as a decimal number: optional sign, digits, "." as the
// decimal point (whatever the process locale) and an optional exponent.
std::optional<double> ParseDecimal(std::string_view text);

// A whole text read as a hexadecimal number.
std::optional<uint32_t> ParseHexWord(std::string_view text);

// A device number as at least two decimal digits.
std::string TwoDigits(int32_t number);

}  // namespace tk571
