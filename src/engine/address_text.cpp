#include "engine/address_text.h"

#include <charconv>
#include <cstdio>

namespace tk571::address_text {

namespace {

bool IsLeadByte(unsigned char c) {
  return c >= 0x81 && c <= 0xFE;
}

}  // namespace

std::optional<Separator> FindOne(std::string_view text, std::string_view form) {
  for (std::size_t i = 0; i < text.size();) {
    if (text.substr(i, form.size()) == form) return Separator{i, form.size()};
    i += (IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
  }
  return std::nullopt;
}

std::optional<Separator> FindEarliest(std::string_view text, char ascii, std::string_view wide) {
  const auto a = FindOne(text, std::string_view(&ascii, 1));
  const auto w = FindOne(text, wide);
  if (a && w) return a->at < w->at ? a : w;
  return a ? a : w;
}

std::optional<int32_t> ParseInt(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::size_t start = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    start = 1;
  }
  const auto digits = text.substr(start);
  if (digits.empty() || digits[0] < '0' || digits[0] > '9') return std::nullopt;
  int64_t value = 0;
  const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || ptr != digits.data() + digits.size()) return std::nullopt;
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    if (IsLeadByte(c) && i + 1 < out.size()) {
      ++i;
    } else if (c >= 'a' && c <= 'z') {
      out[i] = static_cast<char>(c - 'a' + 'A');
    }
  }
  return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && Upper(text.substr(0, prefix.size())) == Upper(prefix);
}

std::string FourDigits(int32_t n) {
  char text[16];
  std::snprintf(text, sizeof(text), "%.4d", n);
  return text;
}

}  // namespace tk571::address_text
