// Reading the simulator's byte trace in end-to-end tests: requests and answers
// in the trace's own text form (">> 05 49 44 30 31 0D 0A"), picked out and
// compared as someone with a line monitor on the RS-485 pair would.
#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "tk571sim/line.h"
#include "tk571sim/trace.h"

namespace tk571::testing {

// The bytes as the trace prints them: "52 45 41 44 0D 0A".
inline std::string Hex(std::string_view bytes) {
  sim::TraceEntry entry;
  entry.bytes = std::string(bytes);
  const std::string line = sim::FormatTraceEntry(entry);
  return line.substr(line.find(' ') + 1);
}

// ">> 52 45 41 44 0D 0A" for what the driver sent, "<< ..." for an answer.
inline std::string Sent(std::string_view bytes) {
  return ">> " + Hex(bytes);
}
inline std::string Answered(std::string_view bytes) {
  return "<< " + Hex(bytes);
}

// One trace line per entry, in order.
inline std::vector<std::string> TraceLines(const std::vector<sim::TraceEntry>& entries) {
  std::vector<std::string> lines;
  for (const sim::TraceEntry& e : entries) lines.push_back(sim::FormatTraceEntry(e));
  return lines;
}

// The requests the driver sent, as raw bytes, in order.
inline std::vector<std::string> Requests(const std::vector<sim::TraceEntry>& entries) {
  std::vector<std::string> out;
  for (const sim::TraceEntry& e : entries)
    if (e.direction == sim::Direction::kToController) out.push_back(e.bytes);
  return out;
}

// The requests without the polling traffic (select, READ, status query), so
// that what a write put on the line stands alone.
inline std::vector<std::string> WriteRequests(const std::vector<sim::TraceEntry>& entries) {
  std::vector<std::string> out;
  for (const std::string& r : Requests(entries)) {
    if (r == "READ\r\n" || r == "\x06\r\n" || r.starts_with("\x05ID")) continue;
    out.push_back(r);
  }
  return out;
}

inline int CountOf(const std::vector<std::string>& items, const std::string& item) {
  return static_cast<int>(std::count(items.begin(), items.end(), item));
}

// Position of `line` in `lines` at or after `from`; lines.size() when absent.
inline std::size_t Find(const std::vector<std::string>& lines, const std::string& line,
                        std::size_t from = 0) {
  const auto it = std::find(
      lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())), lines.end(), line);
  return static_cast<std::size_t>(it - lines.begin());
}

// Time from the start of entry `first` to the end of entry `last`, the
// answer's pace included (one character time per byte).
inline std::chrono::microseconds Span(const sim::Line& line, const sim::TraceEntry& first,
                                      const sim::TraceEntry& last) {
  const auto per_char =
      std::chrono::duration_cast<std::chrono::microseconds>(sim::CharacterTime(line.Settings()));
  return last.at - first.at + per_char * static_cast<int64_t>(last.bytes.size());
}

}  // namespace tk571::testing
