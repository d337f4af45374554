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

// A request whose first byte arrived while a controller still had an answer
// on the line or due: on a half-duplex pair the two collide.
struct Overlap {
  // From the moment the line was created to the request's first byte.
  std::chrono::microseconds at{0};
  // 1, 2, ... since the trace was last cleared.
  int number = 0;
  // The controller whose answer it was.
  int controller = 0;
  // Bytes of that answer the driver had been given so far (0: the answer was
  // due but had not begun), and its length.
  std::size_t sent = 0;
  std::size_t size = 0;
};

// ">> 05 49 44 30 31 0D 0A" or, with the time, "   12.345 >> 05 ...", the
// time in milliseconds.
std::string FormatTraceEntry(const TraceEntry& entry, bool with_time = false);
// "!! overlap 3: 01 answering, 5 of 18 bytes sent", or "01 pending, 0 of 5
// bytes sent" for an answer that had not begun; the time as above.
std::string FormatOverlap(const Overlap& overlap, bool with_time = false);
std::string FormatTrace(const std::vector<TraceEntry>& entries, bool with_time = false);

}  // namespace tk571::sim
