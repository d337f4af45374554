#include "protocol/reply_text.h"

#include <charconv>
#include <cmath>

namespace tk571 {

std::string_view SubText(std::string_view text, int64_t pos, int64_t count) {
  if (count <= 0) return {};
  int64_t first = pos - 1;
  int64_t last = first + count;  // one past
  if (first < 0) first = 0;
  const int64_t size = static_cast<int64_t>(text.size());
  if (last > size) last = size;
  if (first >= last) return {};
  return text.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first));
}

std::string RemoveSpaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != ' ') out.push_back(c);
  return out;
}

std::optional<double> ParseDecimal(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  // Only digits, sign, point and exponent; from_chars would take "inf" and "nan".
  for (char c : text) {
    const bool allowed =
        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
    if (!allowed) return std::nullopt;
  }
  double value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<uint32_t> ParseHexWord(std::string_view text) {
  if (text.empty()) return std::nullopt;
  uint32_t value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string TwoDigits(int32_t number) {
  std::string text = std::to_string(number);
  if (number >= 0 && number < 10) text.insert(text.begin(), '0');
  return text;
}

}  // namespace tk571
