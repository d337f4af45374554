// Time-stamped record of every byte on the line, in both directions.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
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

// Where a controller's answer stood when a request began to arrive.
enum class OverlapKind {
  // A piece of it was going out: both sides sent at once, a collision on a
  // half-duplex pair. A driver that waits for a quiet line makes none.
  kSending,
  // Part of it had been sent and the rest was still to come after a pause
  // (a status line that stops, a split answer).
  kPaused,
  // It was due (turnaround, a late answer, queued behind another) but none of
  // it had gone out yet.
  kPending,
};

// A request whose first byte arrived while a controller still had an answer
// on the line or due.
struct Overlap {
  // From the moment the line was created to the request's first byte.
  std::chrono::microseconds at{0};
  // 1, 2, ... since the trace was last cleared.
  int number = 0;
  // The controller whose answer it was.
  int controller = 0;
  OverlapKind kind = OverlapKind::kPending;
  // Bytes of that answer the driver had been given so far, and its length,
  // noise bytes included.
  std::size_t sent = 0;
  std::size_t size = 0;
};

// ">> 05 49 44 30 31 0D 0A" or, with the time, "   12.345 >> 05 ...", the
// time in milliseconds.
std::string FormatTraceEntry(const TraceEntry& entry, bool with_time = false);
// "!! overlap 3: 01 sending, 5 of 18 bytes sent", "... 01 paused, 18 of 72
// bytes sent", "... 01 pending, 0 of 5 bytes sent"; the time as above.
std::string FormatOverlap(const Overlap& overlap, bool with_time = false);
std::string_view OverlapKindName(OverlapKind kind);
// "overlaps 3, sending 1, paused 0, pending 2".
std::string FormatOverlapCounts(const std::vector<Overlap>& overlaps);
std::string FormatTrace(const std::vector<TraceEntry>& entries, bool with_time = false);

}  // namespace tk571::sim
