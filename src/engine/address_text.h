// Scanning tag addresses. Addresses are GBK bytes: the full-width colon is
// A3 BA and the full-width dot A1 A3, and a search must step over two-byte
// characters so that it never matches inside one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tk571::address_text {

inline constexpr std::string_view kWideColon = "\xA3\xBA";
inline constexpr std::string_view kWideDot = "\xA1\xA3";

struct Separator {
  std::size_t at;      // byte position
  std::size_t length;  // 1 or 2
};

// First occurrence of `ascii` or (when given) of `wide`, whichever comes first.
std::optional<Separator> FindEarliest(std::string_view text, char ascii, std::string_view wide);
// First occurrence of one separator form only.
std::optional<Separator> FindOne(std::string_view text, std::string_view form);

inline std::optional<Separator> FindColon(std::string_view text) {
  return FindEarliest(text, ':', kWideColon);
}
inline std::optional<Separator> FindDot(std::string_view text) {
  return FindEarliest(text, '.', kWideDot);
}

// A decimal integer: optional sign, then digits, within 32 bits.
std::optional<int32_t> ParseInt(std::string_view text);

// ASCII letters to upper case; other bytes unchanged.
std::string Upper(std::string_view text);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// n in decimal with at least four digits, zero-padded; a negative number keeps its sign.
std::string FourDigits(int32_t n);

}  // namespace tk571::address_text
