// The latest state of one line for readers that must never wait for the
// serial line (the Modbus server): each control's last value and write state,
// the links of the devices, whether the driver runs, and the line's figures.
// The line's worker writes it; any thread reads it.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "line_metrics.h"
#include "line_plan.h"

namespace tk571::gateway {

using SteadyClock = std::chrono::steady_clock;

// Why a value is not good: the status register next to each value.
enum class ValueStatus : uint16_t {
  kGood = 0,
  kNoValue = 1,   // the driver has not reported it since it started
  kLink = 2,      // the device's link is not normal
  kLineDown = 3,  // the line's driver has not started
  kStale = 4,     // not confirmed for longer than the stale limit
  kRefused = 5,   // the last write was refused
  kFailed = 6,    // the last write failed on the line
};

struct Reading {
  double value = 0;
  ValueStatus status = ValueStatus::kNoValue;
  // Since the value was last known current, in 100 ms; kNeverConfirmed
  // before the first report.
  uint16_t age = 0;
};
constexpr uint16_t kNeverConfirmed = 0xFFFF;

class LineValues {
 public:
  // `metrics` are the figures the line's worker keeps.
  LineValues(const LinePlan& plan, const LineMetrics& metrics);

  // The line's thread.
  void DriverRunning(bool running);
  void Polled(SteadyClock::time_point now);
  void Reported(std::size_t control, double value, bool write_failed, SteadyClock::time_point now);
  void DeviceLink(int device, double status);
  // A write the driver took; a LOAD_SETM or READ_SETM that it queued starts
  // the device's dialogue.
  void WritePassed(std::size_t control, bool queued, SteadyClock::time_point now);
  void WriteRefused(std::size_t control);

  // Any thread.
  Reading Read(std::size_t control, SteadyClock::time_point now,
               SteadyClock::duration stale_after) const;
  double Link(int device) const;
  bool Running() const;
  bool DialogueRuns(int device, SteadyClock::time_point now) const;
  LineFigures Figures() const { return metrics_.Snapshot(); }

 private:
  enum class WriteState { kNone, kRefused, kFailed };
  struct ControlState {
    int device = -1;
    bool dialogue = false;  // a command that runs a set-point dialogue
    double value = 0;
    bool reported = false;
    SteadyClock::time_point at;
    WriteState write = WriteState::kNone;
  };
  struct DeviceState {
    double link = 0;
    SteadyClock::time_point confirmed;
    SteadyClock::time_point dialogue_until;
  };

  const LineMetrics& metrics_;
  mutable std::mutex mutex_;
  bool running_ = false;
  std::vector<ControlState> controls_;
  std::map<int, DeviceState> devices_;
};

}  // namespace tk571::gateway
