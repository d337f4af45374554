// The controller object as the fuzz targets use it: its run log is off (fuzz
// inputs produce a great many lines nobody reads), and time is the tests' clock,
// which moves only when the driver sleeps, so waiting for a missing port costs
// nothing.
#pragma once

#include <string>

#include "engine/run_log.h"
#include "protocol/dll_object.h"
#include "support/fake_clock.h"

namespace tk571::fuzz {

class QuietObject : public TDLLObject {
 public:
  QuietObject() : TDLLObject(Setup()) {}
  void SetLogMsg(const std::string&) override {}

 private:
  // Runs before the object is built, whose construction writes to the log.
  static bool Setup() {
    static testing::FakeClock clock;
    SetLogFileName(std::string());
    return true;
  }
};

}  // namespace tk571::fuzz
