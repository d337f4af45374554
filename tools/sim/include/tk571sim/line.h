// One serial line with TK571 controllers on it, played on the master side of
// a pseudo-terminal. A driver opens LinkPath() (or SlavePath()) as its serial
// port.
//
// The line paces what it writes as a real line would: each character costs
// (1 start + data + parity + stop bits) / baud seconds, received characters
// are counted the same way, and every answer waits the turnaround time after
// the last character of its request. A pseudo-terminal cannot enforce line
// settings, so they serve only for this timing.
//
// Thread safety: every member may be called from any thread. One worker
// thread per line reads requests and writes answers; it calls the trace
// listener and the logger without holding the line's lock, but they must not
// call back into the line.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tk571sim/controller.h"
#include "tk571sim/sim_types.h"
#include "tk571sim/trace.h"

namespace tk571::sim {

class Line {
 public:
  // Opens the pseudo-terminal, points the link at its slave side and starts
  // the worker. Throws std::invalid_argument for impossible settings and
  // std::system_error when the pseudo-terminal cannot be made.
  explicit Line(LineSettings settings = {});
  ~Line();
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  const LineSettings& Settings() const;

  // Adds a controller in its power-up state (empty recipe, gross weight 0).
  // Throws std::invalid_argument for a number outside 0..99, a number already
  // on the line, or a second controller on an RS-232 line.
  void AddController(int number, const DosingRates& rates = {});
  std::vector<int> ControllerNumbers() const;

  // The current slave side, e.g. "/dev/pts/7"; empty while unplugged. It
  // changes with every Replug().
  std::string SlavePath() const;
  // A symlink that always points at the current slave side and is absent
  // while the line is unplugged. Point the driver here.
  std::string LinkPath() const;

  // The line disappears as an unplugged USB adapter does: the master side and
  // the link go away, so a driver holding the port reads EIO / sees POLLHUP
  // and cannot reopen it. Output not yet on the wire is lost; the controllers
  // keep their state.
  void Unplug();
  // A new pseudo-terminal (a new slave path) and the link pointing at it.
  void Replug();
  bool Plugged() const;

  // Faults of one controller; they apply from its next answer on. A power
  // cycle starts at once.
  void SetFaults(int number, const Faults& faults);
  Faults GetFaults(int number) const;

  // Local echo of the line's adapter (LineSettings::local_echo), from the
  // next byte the driver sends.
  void SetLocalEcho(bool on);
  bool LocalEcho() const;

  // The device number the last select request named (RS-485), if any.
  std::optional<int> Selected() const;

  // Runs `action` on a controller under the line's lock, with the current
  // time, for reading or changing state that has no shortcut below. Throws
  // std::out_of_range for a number not on the line.
  void WithController(int number,
                      const std::function<void(Controller&, Clock::time_point)>& action);
  Recipe GetRecipe(int number);
  void SetRecipe(int number, const Recipe& recipe);
  BatchState Batch(int number);
  Reading Read(int number);
  void SetRates(int number, const DosingRates& rates);

  // Trace of the line since it was created or last cleared. The text form
  // shows each overlap mark on its own line in front of its request.
  std::vector<TraceEntry> Trace() const;
  std::string TraceText(bool with_time = false) const;
  // Clears the overlaps too.
  void ClearTrace();
  // Requests that began while a controller still had an answer on the line or
  // due, since the trace was last cleared.
  std::vector<Overlap> Overlaps() const;
  std::size_t OverlapCount() const;
  // Waits until the trace holds at least `entries` finished entries.
  bool WaitForTrace(std::size_t entries, std::chrono::milliseconds timeout) const;
  // Called with each finished trace entry (a request line at its LF, an answer
  // piece when its last byte is written).
  void SetTraceListener(std::function<void(const TraceEntry&)> listener);
  // Called with each overlap when its request's first byte arrives, in order
  // with the trace listener's calls.
  void SetOverlapListener(std::function<void(const Overlap&)> listener);

  // Reasons for refused or ignored requests and line events, in order.
  std::vector<std::string> LogLines() const;
  void SetLogger(std::function<void(std::string_view)> logger);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tk571::sim
