#include "live_values.h"

#include <algorithm>

namespace tk571::gateway {
namespace {

constexpr double kLinkNormal = 1;
// A set-point dialogue takes about 2.3 s, and up to 7 s more with repeated
// attempts; the driver's report of the command ends it earlier.
constexpr std::chrono::seconds kDialogueBound{12};
constexpr auto kAgeUnit = std::chrono::milliseconds(100);

}  // namespace

LineValues::LineValues(const LinePlan& plan, const LineMetrics& metrics) : metrics_(metrics) {
  for (const Control& c : plan.controls) {
    ControlState state;
    state.device = c.device_number;
    state.dialogue = c.type == "LOAD_SETM" || c.type == "READ_SETM";
    controls_.push_back(state);
    if (c.device_number >= 0) devices_[c.device_number];
  }
}

void LineValues::DriverRunning(bool running) {
  const std::lock_guard<std::mutex> lock(mutex_);
  running_ = running;
  // The driver starts every link at "never answered" and its values anew.
  for (auto& [number, device] : devices_) device = DeviceState{};
  for (ControlState& c : controls_) c.reported = false;
}

void LineValues::Polled(SteadyClock::time_point now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [number, device] : devices_) {
    if (device.link == kLinkNormal) device.confirmed = now;
  }
}

void LineValues::Reported(std::size_t control, double value, bool write_failed,
                          SteadyClock::time_point now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ControlState& c = controls_.at(control);
  c.value = value;
  c.reported = true;
  c.at = now;
  c.write = write_failed ? WriteState::kFailed : WriteState::kNone;
  if (c.dialogue) devices_[c.device].dialogue_until = {};
}

void LineValues::DeviceLink(int device, double status) {
  const std::lock_guard<std::mutex> lock(mutex_);
  devices_[device].link = status;
}

void LineValues::WritePassed(std::size_t control, bool queued, SteadyClock::time_point now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ControlState& c = controls_.at(control);
  c.write = WriteState::kNone;
  if (c.dialogue && queued) devices_[c.device].dialogue_until = now + kDialogueBound;
}

void LineValues::WriteRefused(std::size_t control) {
  const std::lock_guard<std::mutex> lock(mutex_);
  controls_.at(control).write = WriteState::kRefused;
}

Reading LineValues::Read(std::size_t control, SteadyClock::time_point now,
                         SteadyClock::duration stale_after) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const ControlState& c = controls_.at(control);
  const auto device = devices_.find(c.device);
  const DeviceState none;
  const DeviceState& d = device == devices_.end() ? none : device->second;
  Reading reading;
  reading.value = c.value;
  const auto since = now - std::max(c.at, d.confirmed);
  reading.age = c.reported ? static_cast<uint16_t>(std::min<int64_t>(
                                 since / kAgeUnit, static_cast<int64_t>(kNeverConfirmed) - 1))
                           : kNeverConfirmed;
  if (!running_) {
    reading.status = ValueStatus::kLineDown;
  } else if (d.link != kLinkNormal) {
    reading.status = ValueStatus::kLink;
  } else if (c.write == WriteState::kRefused) {
    reading.status = ValueStatus::kRefused;
  } else if (c.write == WriteState::kFailed) {
    reading.status = ValueStatus::kFailed;
  } else if (!c.reported) {
    reading.status = ValueStatus::kNoValue;
  } else if (since > stale_after) {
    reading.status = ValueStatus::kStale;
  } else {
    reading.status = ValueStatus::kGood;
  }
  return reading;
}

double LineValues::Link(int device) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = devices_.find(device);
  return found == devices_.end() ? 0 : found->second.link;
}

bool LineValues::Running() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

bool LineValues::DialogueRuns(int device, SteadyClock::time_point now) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = devices_.find(device);
  return found != devices_.end() && now < found->second.dialogue_until;
}

}  // namespace tk571::gateway
