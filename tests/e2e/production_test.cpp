// Production through the entry points: START_UP starts a batch with "ST" and
// stops it with "ABO"; the weights follow the batch and the final amounts
// arrive when it has finished.
#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "e2e/plant_host.h"
#include "e2e/wire.h"
#include "engine/library_values.h"

namespace tk571 {
namespace {

using testing::Answered;
using testing::PlantHost;
using testing::Sent;
using testing::SimSettings;
using testing::TagDef;
using testing::TraceLines;

constexpr uint32_t kRead = 1;
constexpr uint32_t kStartUp = 9;
constexpr sim::Recipe kRecipe = {{{50, 20, 2}, {40, 15, 3}, {30, 10, 1}, {20, 8, 2}}};
// About a second for the whole batch.
constexpr sim::DosingRates kBriskRates{200.0, 100.0, std::chrono::milliseconds(20)};
// Long enough to stop the batch on its first material.
constexpr sim::DosingRates kSlowRates{2.0, 1.0, std::chrono::milliseconds(800)};

std::vector<TTagInfo> ProductionTags() {
  return {TagDef(kRead, "READ1:1"), TagDef(2, "ENQ1:1"),
          TagDef(3, "ENQ1:2"),      TagDef(4, "ENQ1:3"),
          TagDef(5, "ENQ1:4"),      TagDef(kStartUp, "START_UP1:1", TK571_VALUE_BOOL)};
}

// Writes START_UP and polls until the line shows the request (a trace line
// such as ">> 53 54 0D 0A"), its answer right after it, and then the "R" that
// returns the controller to its main display, and the exchange has ended (it
// ends after the pause that follows "R"): the host has the tag's value with
// good quality, or, when the host showed that already and the write changes
// nothing it sees, the line carries the next request.
::testing::AssertionResult StartUp(sim::Line& line, PlantHost& host, bool value,
                                   const std::string& request, const std::string& answer) {
  line.ClearTrace();
  const double expected = value ? 1.0 : 0.0;
  // A tag never reported holds the driver's initial false.
  const bool shown_before = (host.Has(kStartUp) ? host.Number(kStartUp) == expected : !value) &&
                            host.Quality(kStartUp) == TK571_QUALITY_GOOD;
  if (!host.Write(kStartUp, value ? 1 : 0, TK571_VALUE_BOOL))
    return ::testing::AssertionFailure() << "write refused";
  std::vector<std::string> lines;
  std::size_t at = 0;
  const bool seen = host.PollUntil([&] {
    lines = TraceLines(line.Trace());
    const std::size_t sent = testing::Find(lines, request);
    at = sent + 1;
    if (at >= lines.size() || lines[at] != answer) return false;
    const std::size_t back = testing::Find(lines, ">> 52 0D 0A", at);
    if (back >= lines.size()) return false;
    if (host.Number(kStartUp) == expected && host.Quality(kStartUp) == TK571_QUALITY_GOOD &&
        !shown_before)
      return true;
    for (std::size_t next = back + 1; shown_before && next < lines.size(); ++next)
      if (lines[next].starts_with(">> ")) return true;
    return false;
  });
  if (!seen) {
    auto failure = ::testing::AssertionFailure() << "trace:";
    for (const std::string& l : lines) failure << "\n" << l;
    return failure;
  }
  return ::testing::AssertionSuccess();
}

// Controller 1 weighing 3.0 kg on its line, and a host for it.
struct OneController {
  explicit OneController(const sim::DosingRates& rates) {
    line.AddController(1, rates);
    line.WithController(1, [](sim::Controller& c, auto) { c.SetGrossWeight(3.0); });
  }
  // The host started the driver and has seen the weight.
  ::testing::AssertionResult Started() {
    if (!host.Start(ProductionTags())) return ::testing::AssertionFailure() << "IniDriver failed";
    if (!host.PollUntil([&] { return host.Number(kRead) == 3.0; }))
      return ::testing::AssertionFailure() << "the weight never reached the host";
    return ::testing::AssertionSuccess();
  }

  sim::Line line{SimSettings()};
  PlantHost host{line, {1}};
};

TEST(ProductionTest, StartUpRunsABatchAndTheFinalAmountsFollow) {
  OneController plant(kBriskRates);
  sim::Line& line = plant.line;
  PlantHost& host = plant.host;
  line.SetRecipe(1, kRecipe);
  ASSERT_TRUE(plant.Started());

  ASSERT_TRUE(StartUp(line, host, true, ">> 53 54 0D 0A", "<< 59 45 53 0D 0A"));
  ASSERT_TRUE(host.PollUntil([&] { return !line.Batch(1).running; }, std::chrono::seconds(10)));
  const sim::BatchState batch = line.Batch(1);
  ASSERT_TRUE(batch.finished[3]);
  ASSERT_TRUE(host.PollUntil([&] { return host.Number(5) == batch.amounts_kg[3]; }));
  for (int k = 0; k < 4; ++k)
    EXPECT_DOUBLE_EQ(host.Number(static_cast<uint32_t>(2 + k)), batch.amounts_kg[k]);
  EXPECT_EQ(host.Number(kStartUp), 1.0);
  EXPECT_EQ(host.Quality(kStartUp), TK571_QUALITY_GOOD);

  // The host saw the scale fill while the batch ran, and its end weight.
  const std::vector<double> weights = host.NumberHistory(kRead);
  EXPECT_GT(std::set<double>(weights.begin(), weights.end()).size(), 5u);
  EXPECT_TRUE(
      host.PollUntil([&] { return std::abs(host.Number(kRead) - line.Read(1).kg) < 0.006; }));
}

TEST(ProductionTest, StartUpTrueAndFalseOnTheWire) {
  OneController plant(kSlowRates);
  sim::Line& line = plant.line;
  PlantHost& host = plant.host;
  ASSERT_TRUE(plant.Started());

  struct Step {
    const char* what;
    bool recipe_loaded;  // at the controller, before the write
    bool value;
    const char* request;
    const char* answer;
    bool running_after;
  };
  const Step steps[] = {
      // Without a recipe the controller refuses to start; the refusal is an
      // answer, not a failed write.
      {"start without recipe", false, true, ">> 53 54 0D 0A", "<< 4E 4F 20 3F 0D 0A", false},
      {"stop while idle", true, false, ">> 41 42 4F 0D 0A", "<< 59 45 53 0D 0A", false},
      {"start", true, true, ">> 53 54 0D 0A", "<< 59 45 53 0D 0A", true},
      {"stop while running", true, false, ">> 41 42 4F 0D 0A", "<< 59 45 53 0D 0A", false},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    line.SetRecipe(1, s.recipe_loaded ? kRecipe : sim::Recipe{});
    ASSERT_TRUE(StartUp(line, host, s.value, s.request, s.answer));
    EXPECT_EQ(line.Batch(1).running, s.running_after);
    EXPECT_EQ(host.Number(kStartUp), s.value ? 1.0 : 0.0);
    EXPECT_EQ(host.Quality(kStartUp), TK571_QUALITY_GOOD);
  }
  EXPECT_TRUE(line.Batch(1).aborted);
  // The scale stands still where the batch stopped, and the host sees it.
  const double stopped = line.Read(1).kg;
  EXPECT_GT(stopped, 3.0);
  EXPECT_TRUE(host.PollUntil([&] { return std::abs(host.Number(kRead) - stopped) < 0.006; }));

  // A stop written while the tag already shows "stopped" is a command all
  // the same: it goes out, and the controller answers it.
  ASSERT_TRUE(StartUp(line, host, false, ">> 41 42 4F 0D 0A", "<< 59 45 53 0D 0A"));
  EXPECT_EQ(host.Quality(kStartUp), TK571_QUALITY_GOOD);
}

// A write the controller never answers is reported to the host as failed,
// with the value the tag still shows; the next answered write clears it.
TEST(ProductionTest, AFailedWriteReachesTheHostAsItsQuality) {
  OneController plant(kSlowRates);
  sim::Line& line = plant.line;
  PlantHost& host = plant.host;
  ASSERT_TRUE(plant.Started());
  ASSERT_TRUE(StartUp(line, host, false, ">> 41 42 4F 0D 0A", "<< 59 45 53 0D 0A"));
  ASSERT_EQ(host.Quality(kStartUp), TK571_QUALITY_GOOD);

  line.SetFaults(1, {.silent = true});
  ASSERT_TRUE(host.Write(kStartUp, 1, TK571_VALUE_BOOL));
  EXPECT_TRUE(host.PollUntil([&] { return host.Quality(kStartUp) == kQualityWriteFailed; },
                             std::chrono::seconds(10)));
  EXPECT_EQ(host.Number(kStartUp), 0.0);
  // The next failed write is news too, although the tag shows the failure
  // already.
  const int reports = host.Reports(kStartUp);
  ASSERT_TRUE(host.Write(kStartUp, 1, TK571_VALUE_BOOL));
  EXPECT_TRUE(
      host.PollUntil([&] { return host.Reports(kStartUp) > reports; }, std::chrono::seconds(10)));
  EXPECT_EQ(host.Quality(kStartUp), kQualityWriteFailed);

  line.SetFaults(1, {});
  line.SetRecipe(1, kRecipe);
  ASSERT_TRUE(StartUp(line, host, true, ">> 53 54 0D 0A", "<< 59 45 53 0D 0A"));
  EXPECT_TRUE(host.PollUntil([&] { return host.Quality(kStartUp) == TK571_QUALITY_GOOD; }));
  EXPECT_EQ(host.Number(kStartUp), 1.0);
}

// The operator's second "start" is the next batch, although the tag still
// shows true from the first.
TEST(ProductionTest, TwoBatchesInARow) {
  OneController plant(kBriskRates);
  sim::Line& line = plant.line;
  PlantHost& host = plant.host;
  line.SetRecipe(1, kRecipe);
  ASSERT_TRUE(plant.Started());
  for (int batch = 1; batch <= 2; ++batch) {
    SCOPED_TRACE(batch);
    ASSERT_TRUE(StartUp(line, host, true, ">> 53 54 0D 0A", "<< 59 45 53 0D 0A"));
    ASSERT_TRUE(host.PollUntil([&] { return !line.Batch(1).running; }, std::chrono::seconds(10)));
    const sim::BatchState done = line.Batch(1);
    ASSERT_TRUE(done.finished[3]);
    EXPECT_TRUE(host.PollUntil([&] { return host.Number(5) == done.amounts_kg[3]; }));
    EXPECT_EQ(host.Number(kStartUp), 1.0);
    EXPECT_EQ(host.Quality(kStartUp), TK571_QUALITY_GOOD);
  }
}

}  // namespace
}  // namespace tk571
