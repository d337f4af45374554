// Time-stamped record of every byte on the line, in both directions.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace tk571::sim {

enum class Direction {
  kToController,    // the driver sent these bytes: ">>"
  kFromController,  // a controller answered these bytes: "<<"
};

// One unit of traffic: a request line up to its LF (or a fragment the line
// gave up waiting on), or one write of a controller's answer.
struct TraceEntry {
  // From the moment the line was created to the first byte of the entry.
  std::chrono::microseconds at{0};
  Direction direction = Direction::kToController;
  std::string bytes;
};

// ">> 05 49 44 30 31 0D 0A" or, with the time, "   12.345 >> 05 ...", the
// time in milliseconds.
std::string FormatTraceEntry(const TraceEntry& entry, bool with_time = false);
std::string FormatTrace(const std::vector<TraceEntry>& entries, bool with_time = false);

}  // namespace tk571::sim
