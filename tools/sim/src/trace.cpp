#include "tk571sim/trace.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace tk571::sim {

namespace {

std::string Stamp(std::chrono::microseconds at, bool with_time) {
  if (!with_time) return {};
  std::array<char, 32> stamp{};
  std::snprintf(stamp.data(), stamp.size(), "%9.3f ",
                std::chrono::duration<double, std::milli>(at).count());
  return stamp.data();
}

}  // namespace

std::string_view OverlapKindName(OverlapKind kind) {
  switch (kind) {
    case OverlapKind::kSending:
      return "sending";
    case OverlapKind::kPaused:
      return "paused";
    case OverlapKind::kPending:
      break;
  }
  return "pending";
}

std::string FormatOverlap(const Overlap& overlap, bool with_time) {
  std::array<char, 96> text{};
  std::snprintf(text.data(), text.size(), "!! overlap %d: %02d %s, %zu of %zu bytes sent",
                overlap.number, overlap.controller,
                std::string(OverlapKindName(overlap.kind)).c_str(), overlap.sent, overlap.size);
  return Stamp(overlap.at, with_time) + text.data();
}

std::string FormatOverlapCounts(const std::vector<Overlap>& overlaps) {
  std::string text = "overlaps " + std::to_string(overlaps.size());
  for (OverlapKind kind : {OverlapKind::kSending, OverlapKind::kPaused, OverlapKind::kPending}) {
    const auto count = std::count_if(overlaps.begin(), overlaps.end(),
                                     [kind](const Overlap& o) { return o.kind == kind; });
    text += ", " + std::string(OverlapKindName(kind)) + " " + std::to_string(count);
  }
  return text;
}

std::string FormatTraceEntry(const TraceEntry& entry, bool with_time) {
  std::string text = Stamp(entry.at, with_time);
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
