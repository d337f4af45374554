// Numbers as the command line and the control input spell them.
#pragma once

#include <charconv>
#include <chrono>
#include <optional>
#include <string_view>

#include "tk571sim/sim_types.h"

namespace tk571::sim::detail {

// The whole text, nothing else: no blanks, no trailing characters.
template <typename T>
std::optional<T> ParseNumber(std::string_view text, int base = 10) {
  T value{};
  if (text.empty()) return std::nullopt;
  std::from_chars_result result;
  if constexpr (std::is_integral_v<T>) {
    result = std::from_chars(text.data(), text.data() + text.size(), value, base);
  } else {
    result = std::from_chars(text.data(), text.data() + text.size(), value);
  }
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

inline std::optional<int> ParseDeviceNumber(std::string_view text) {
  std::optional<int> number = ParseNumber<int>(text);
  if (!number || *number < kMinDeviceNumber || *number > kMaxDeviceNumber) return std::nullopt;
  return number;
}

inline std::optional<std::chrono::milliseconds> ParseMillis(std::string_view text) {
  std::optional<int> ms = ParseNumber<int>(text);
  if (!ms || *ms < 0) return std::nullopt;
  return std::chrono::milliseconds(*ms);
}

}  // namespace tk571::sim::detail
