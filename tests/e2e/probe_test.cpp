// The silent device probe behind DLLTestDev against a simulated line.
#include <gtest/gtest.h>

#include "e2e/plant_host.h"

namespace tk571 {
namespace {

using testing::PlantHost;
using testing::SimSettings;

TEST(ProbeTest, AnswersTrueForALiveControllerAndFalseForASilentOne) {
  struct Case {
    const char* what;
    bool silent;
    bool expected;
  };
  for (const Case c :
       {Case{"live controller", false, true}, Case{"silent controller", true, false}}) {
    SCOPED_TRACE(c.what);
    sim::Line line(SimSettings());
    line.AddController(1);
    sim::Faults faults;
    faults.silent = c.silent;
    line.SetFaults(1, faults);
    PlantHost host(line, {1});
    const std::vector<uint8_t> before = host.Block();
    EXPECT_EQ(DLLTestDev(host.Block().data(), 0), c.expected ? 1 : 0);
    EXPECT_EQ(host.Block(), before) << "the probe works on a copy of the host's block";
    EXPECT_EQ(DetectScanTime(), 1000) << "the probe leaves no driver object behind";
    // The probe reads the first configured device's live weight.
    EXPECT_NE(line.TraceText().find(">> 05 49 44 30 31 0D 0A"), std::string::npos);
  }
}

}  // namespace
}  // namespace tk571
