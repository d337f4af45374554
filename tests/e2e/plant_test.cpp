// The driver through its entry points against simulated controllers on a
// pseudo-terminal: what a plant engineer would see on the host.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

#include "e2e/plant_host.h"
#include "platform/gbk.h"

namespace tk571 {
namespace {

using platform::ToGbk;
using testing::PlantHost;
using testing::SimSettings;
using testing::TagDef;

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(PlantTest, LiveWeightsOfTwoControllersOnOneLine) {
  sim::Line line(SimSettings());
  line.AddController(1);
  line.AddController(2);
  line.WithController(1, [](sim::Controller& c, auto) { c.SetGrossWeight(12.5); });
  line.WithController(2, [](sim::Controller& c, auto) { c.SetGrossWeight(-3.25); });
  PlantHost host(line, {1, 2});
  ASSERT_TRUE(host.Start({TagDef(1, "READ1:1", 0, 100), TagDef(2, "READ2:1", 0, 100),
                          TagDef(3, "COMMLINK", 2), TagDef(4, "DEVICELINK1", 2),
                          TagDef(5, "DEVICELINK2", 2)}));
  ASSERT_TRUE(host.PollUntil([&] { return host.Has(1) && host.Has(2) && host.Has(3); }));
  EXPECT_DOUBLE_EQ(host.Number(1), 12.5);
  EXPECT_DOUBLE_EQ(host.Number(2), -3.25);
  EXPECT_EQ(host.Text(3), ToGbk("TK571配料控制器(RS485)通讯正常!"));
  EXPECT_TRUE(host.PollUntil([&] { return host.Text(5) == ToGbk("2号 智能仪表TK571通讯正常!"); }));

  // One select request for every change of device, none in between.
  host.PollFor(std::chrono::milliseconds(600));
  const std::string trace = line.TraceText();
  const int selects = Count(trace, ">> 05 49 44 30");
  const int reads = Count(trace, ">> 52 45 41 44 0D 0A");
  EXPECT_GT(reads, 4);
  EXPECT_GE(selects, reads - 1);
  EXPECT_LE(selects, reads + 1);
}

}  // namespace
}  // namespace tk571
