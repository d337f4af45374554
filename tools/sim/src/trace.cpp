#include "tk571sim/trace.h"

#include <array>
#include <cstdio>

namespace tk571::sim {

std::string FormatTraceEntry(const TraceEntry& entry, bool with_time) {
  std::string text;
  if (with_time) {
    std::array<char, 32> stamp{};
    std::snprintf(stamp.data(), stamp.size(), "%9.3f ",
                  std::chrono::duration<double, std::milli>(entry.at).count());
    text += stamp.data();
  }
  text += entry.direction == Direction::kToController ? ">>" : "<<";
  static constexpr std::string_view kHex = "0123456789ABCDEF";
  for (char c : entry.bytes) {
    const auto byte = static_cast<unsigned char>(c);
    text += ' ';
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return text;
}

std::string FormatTrace(const std::vector<TraceEntry>& entries, bool with_time) {
  std::string text;
  for (const TraceEntry& entry : entries) {
    text += FormatTraceEntry(entry, with_time);
    text += '\n';
  }
  return text;
}

}  // namespace tk571::sim
