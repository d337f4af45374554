// The controller object as the fuzz targets use it: its run log is off (fuzz
// inputs produce a great many lines nobody reads), and time is a clock that
// moves only when the driver sleeps, so waiting for a missing port costs
// nothing.
#pragma once

#include <chrono>
#include <string>

#include "engine/run_log.h"
#include "platform/clock.h"
#include "protocol/dll_object.h"

namespace tk571::fuzz {

class InstantClock final : public platform::Clock {
 public:
  InstantClock() { platform::SetClock(this); }
  uint32_t TickMs() override { return tick_; }
  void SleepMs(uint32_t ms) override { tick_ += ms; }
  std::chrono::system_clock::time_point Now() override {
    return std::chrono::system_clock::time_point();
  }

 private:
  uint32_t tick_ = 0;
};

class QuietObject : public TDLLObject {
 public:
  QuietObject() : TDLLObject(Setup()) {}
  void SetLogMsg(const std::string&) override {}

 private:
  // Runs before the object is built, whose construction writes to the log.
  static bool Setup() {
    static InstantClock clock;
    SetLogFileName(std::string());
    return true;
  }
};

}  // namespace tk571::fuzz
