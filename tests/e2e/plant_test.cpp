// The driver through its entry points against simulated controllers on a
// pseudo-terminal: what a plant engineer would see on the host.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

#include "e2e/plant_host.h"
#include "e2e/wire.h"
#include "platform/gbk.h"

namespace tk571 {
namespace {

using platform::ToGbk;
using testing::Answered;
using testing::PlantHost;
using testing::Sent;
using testing::SimSettings;
using testing::TagDef;
using testing::TraceLines;

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

// A recipe small enough to batch in well under a second at the rates below.
constexpr sim::Recipe kSmallRecipe = {{{50, 20, 2}, {40, 15, 3}, {30, 10, 1}, {20, 8, 2}}};
constexpr sim::DosingRates kQuickRates{2000.0, 400.0, std::chrono::milliseconds(5)};

// Runs one batch on the controller itself, as the operator would at its
// keypad, and waits for it to finish.
sim::BatchState BatchAtKeypad(sim::Line& line, int device) {
  line.WithController(device, [](sim::Controller& c, auto now) { c.Handle("ST", now); });
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (line.Batch(device).running && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return line.Batch(device);
}

// The live weight and the four final amounts of one controller come from one
// command: "READ", and, for a gross weight, the status query behind it.
TEST(PlantTest, LiveWeightAndFinalAmountsOfOneController) {
  sim::Line line(SimSettings());
  line.AddController(1, kQuickRates);
  line.SetRecipe(1, kSmallRecipe);
  const sim::BatchState batch = BatchAtKeypad(line, 1);
  ASSERT_FALSE(batch.running);
  ASSERT_TRUE(batch.finished[3]);
  // The hopper's own weight brings the display to 12.5 kg.
  line.WithController(1, [](sim::Controller& c, auto now) {
    c.SetGrossWeight(0.0);
    c.SetGrossWeight(12.5 - c.Read(now).kg);
  });
  line.ClearTrace();

  PlantHost host(line, {1});
  ASSERT_TRUE(host.Start({TagDef(1, "READ1:1"), TagDef(2, "ENQ1:1"), TagDef(3, "ENQ1:2"),
                          TagDef(4, "ENQ1:3"), TagDef(5, "ENQ1:4")}));
  ASSERT_TRUE(host.PollUntil(
      [&] { return host.Has(1) && host.Has(2) && host.Has(3) && host.Has(4) && host.Has(5); }));
  EXPECT_DOUBLE_EQ(host.Number(1), 12.5);
  for (int k = 0; k < 4; ++k) {
    EXPECT_GT(batch.amounts_kg[k], 0.0);
    EXPECT_DOUBLE_EQ(host.Number(static_cast<uint32_t>(2 + k)), batch.amounts_kg[k])
        << "material " << k + 1;
  }

  const std::vector<std::string> trace = TraceLines(line.Trace());
  ASSERT_GE(trace.size(), 6u);
  std::string status;
  line.WithController(1, [&](sim::Controller& c, auto) { status = c.StatusLine(); });
  EXPECT_EQ(trace[0], ">> 05 49 44 30 31 0D 0A");
  EXPECT_EQ(trace[1], "<< 06 30 31 0D 0A");
  EXPECT_EQ(trace[2], ">> 52 45 41 44 0D 0A");
  EXPECT_EQ(trace[3], Answered("ST,GS,+0012.50kg\r\n"));
  EXPECT_EQ(trace[4], ">> 06 0D 0A");
  EXPECT_EQ(trace[5], Answered(status));
  // One select for the whole session, one status query per READ.
  EXPECT_EQ(testing::CountOf(trace, ">> 05 49 44 30 31 0D 0A"), 1);
  const int reads = testing::CountOf(trace, Sent("READ\r\n"));
  const int queries = testing::CountOf(trace, Sent("\x06\r\n"));
  EXPECT_GE(queries, reads - 1);
  EXPECT_LE(queries, reads);
}

// A net weight reply carries no "GS": the status line is not asked for and the
// final amounts keep their values.
TEST(PlantTest, NetWeightAsksNoStatusLine) {
  sim::Line line(SimSettings());
  line.AddController(1, kQuickRates);
  line.SetRecipe(1, kSmallRecipe);
  const sim::BatchState batch = BatchAtKeypad(line, 1);
  ASSERT_TRUE(batch.finished[0]);
  line.WithController(1, [](sim::Controller& c, auto) {
    c.SetWeighMode(sim::WeighMode::kNet);
    c.SetGrossWeight(500.0);  // not shown: the net display is the batch alone
  });
  line.ClearTrace();

  PlantHost host(line, {1});
  ASSERT_TRUE(host.Start({TagDef(1, "READ1:1"), TagDef(2, "ENQ1:1")}));
  ASSERT_TRUE(host.PollUntil([&] { return host.Has(1); }));
  host.PollFor(std::chrono::milliseconds(300));
  const double net = line.Read(1).kg;
  EXPECT_NEAR(host.Number(1), net, 0.006);
  EXPECT_FALSE(host.Has(2) && host.Number(2) != 0.0) << host.Number(2);
  const std::vector<std::string> trace = TraceLines(line.Trace());
  EXPECT_GT(testing::CountOf(trace, ">> 52 45 41 44 0D 0A"), 2);
  EXPECT_EQ(testing::CountOf(trace, ">> 06 0D 0A"), 0);
}

}  // namespace
}  // namespace tk571
