// Recipes through the entry points: set-points written as M_ tags, loaded
// into the controller with LOAD_SETM through its set-point menu, and read
// back with READ_SETM.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>

#include "e2e/plant_host.h"
#include "e2e/wire.h"
#include "engine/run_log.h"
#include "log/log_fixtures.h"
#include "platform/gbk.h"

namespace tk571 {
namespace {

using testing::PlantHost;
using testing::SimSettings;
using testing::TagDef;
using testing::WriteRequests;

constexpr uint32_t kRead = 1;
constexpr uint32_t kLoad = 40;
constexpr uint32_t kReadBack = 41;
uint32_t FinalId(int m) {
  return 10 + static_cast<uint32_t>(m);
}
uint32_t CoarseId(int m) {
  return 20 + static_cast<uint32_t>(m);
}
uint32_t FineId(int m) {
  return 30 + static_cast<uint32_t>(m);
}

std::vector<TTagInfo> RecipeTags() {
  std::vector<TTagInfo> defs{TagDef(kRead, "READ1:1")};
  for (int m = 1; m <= 4; ++m) {
    const std::string ch = "1:" + std::to_string(m);
    defs.push_back(TagDef(FinalId(m), "M_FINAL" + ch));
    defs.push_back(TagDef(CoarseId(m), "M_COARSE" + ch));
    defs.push_back(TagDef(FineId(m), "M_FINE" + ch));
  }
  defs.push_back(TagDef(kLoad, "LOAD_SETM1:1", TK571_VALUE_BOOL));
  defs.push_back(TagDef(kReadBack, "READ_SETM1:1", TK571_VALUE_BOOL));
  return defs;
}

struct Setpoints {
  double final_kg, coarse_kg, fine_kg;
};
using HostRecipe = std::array<Setpoints, 4>;

void WriteRecipe(PlantHost& host, const HostRecipe& recipe) {
  for (int m = 1; m <= 4; ++m) {
    const Setpoints& s = recipe[static_cast<std::size_t>(m - 1)];
    host.Write(FinalId(m), s.final_kg);
    host.Write(CoarseId(m), s.coarse_kg);
    host.Write(FineId(m), s.fine_kg);
  }
}

// Starts the driver on one controller and waits for its first weight (a tag
// is reported when its value first changes, so the scale holds a load).
bool StartOnOneController(sim::Line& line, PlantHost& host) {
  line.WithController(1, [](sim::Controller& c, auto) { c.SetGrossWeight(1.0); });
  return host.Start(RecipeTags()) && host.PollUntil([&] { return host.Number(kRead) == 1.0; });
}

// What the menu dialogue of a load puts on the line: back to the main
// display, into the menu, each prompt answered with its value and "N" for the
// next, then the LOAD_SETM request "R" and the "R" that ends every write.
std::vector<std::string> LoadDialogue(const std::vector<std::string>& values) {
  std::vector<std::string> out{"R\r\n", "SET\r\n"};
  for (const std::string& v : values) {
    out.push_back(v + "\r\n");
    out.push_back("N\r\n");
  }
  out.push_back("R\r\n");
  out.push_back("R\r\n");
  return out;
}

TEST(RecipeTest, LoadedWithLoadSetmAndReadBackWithReadSetm) {
  sim::Line line(SimSettings());
  line.AddController(1);
  PlantHost host(line, {1});
  ASSERT_TRUE(StartOnOneController(line, host));

  // Material 4's FINAL has no exact 32-bit float: the controller is offered
  // the float's full decimal expansion and shows it rounded to 12 kg.
  WriteRecipe(host, {{{500, 400, 20}, {300, 250, 5}, {120, 100, 0}, {12.3, 8, 1.5}}});
  line.ClearTrace();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(host.Write(kLoad, 1, TK571_VALUE_BOOL));
  ASSERT_TRUE(host.PollUntil([&] { return host.Number(kLoad) == 1.0; }, std::chrono::seconds(10)));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  std::cout << "LOAD_SETM at " << line.Settings().baud << " baud: " << took.count()
            << " ms from the write to the host seeing it done\n";

  const sim::Recipe loaded{{{500, 400, 20}, {300, 250, 5}, {120, 100, 0}, {12, 8, 2}}};
  EXPECT_EQ(line.GetRecipe(1), loaded);
  const std::vector<sim::TraceEntry> trace = line.Trace();
  EXPECT_EQ(WriteRequests(trace), LoadDialogue({"500", "400", "20", "300", "250", "5", "120", "100",
                                                "0", "12.3000001907349", "8", "1.5"}));
  // Every value was confirmed by its echo at the first attempt.
  const std::vector<std::string> lines = testing::TraceLines(trace);
  EXPECT_LT(testing::Find(lines, testing::Answered("M4 FINAL 12.3000001907349\r\n")), lines.size());
  EXPECT_LT(testing::Find(lines, testing::Answered("M1 FINAL  0000\r\n")), lines.size());

  // Someone changes the recipe at the keypad; READ_SETM brings it back into
  // the M_ tags.
  const sim::Recipe keyed{{{900, 800, 30}, {70, 60, 4}, {9999, 2, 1}, {5, 3, 1}}};
  line.SetRecipe(1, keyed);
  line.ClearTrace();
  ASSERT_TRUE(host.Write(kReadBack, 1, TK571_VALUE_BOOL));
  ASSERT_TRUE(host.PollUntil(
      [&] { return host.Number(FinalId(3)) == 9999 && host.Number(FineId(4)) == 1.0; },
      std::chrono::seconds(10)));
  for (int m = 1; m <= 4; ++m) {
    const sim::MaterialSetpoints& s = keyed[static_cast<std::size_t>(m - 1)];
    EXPECT_EQ(host.Number(FinalId(m)), s.final_kg) << "M" << m;
    EXPECT_EQ(host.Number(CoarseId(m)), s.coarse_kg) << "M" << m;
    EXPECT_EQ(host.Number(FineId(m)), s.fine_kg) << "M" << m;
  }
  std::vector<std::string> read_dialogue{"R\r\n", "SET\r\n"};
  for (int i = 0; i < 12; ++i) read_dialogue.push_back("N\r\n");
  read_dialogue.push_back("R\r\n");
  read_dialogue.push_back("R\r\n");
  host.PollFor(std::chrono::milliseconds(300));
  EXPECT_EQ(WriteRequests(line.Trace()), read_dialogue);
  // Reading changed nothing in the controller.
  EXPECT_EQ(line.GetRecipe(1), keyed);
}

// A recipe whose set-points are out of order never reaches the controller:
// nothing of the dialogue is sent, the write is not tried again, the LOAD_SETM
// tag gets the write-failed quality, the run log names the material and its
// values (and no communication failure), the weights keep coming, and once
// the set-points are put right the next LOAD_SETM loads.
TEST(RecipeTest, OutOfOrderRecipeIsRefusedBeforeAnythingIsSent) {
  struct Case {
    const char* what;
    int material;
    Setpoints bad;
    const char* log_line;
  };
  const Case cases[] = {
      {"FINAL equal to COARSE",
       2,
       {100, 100, 10},
       "：配方下传被拒绝：物料2 FINAL=100 COARSE=100 FINE=10，须 FINAL > COARSE > FINE\r\n"},
      {"FINAL below COARSE",
       1,
       {100, 150, 10},
       "：配方下传被拒绝：物料1 FINAL=100 COARSE=150 FINE=10，须 FINAL > COARSE > FINE\r\n"},
      {"COARSE equal to FINE",
       4,
       {100, 10, 10},
       "：配方下传被拒绝：物料4 FINAL=100 COARSE=10 FINE=10，须 FINAL > COARSE > FINE\r\n"},
      {"FINE above COARSE",
       3,
       {100, 10, 20.5},
       "：配方下传被拒绝：物料3 FINAL=100 COARSE=10 FINE=20.5，须 FINAL > COARSE > FINE\r\n"},
  };
  testing::TempDir dir;
  const std::string log_file = dir / "TK571_485.Log";
  SetLogFileName(log_file);
  auto count_in_log = [&](const std::string& utf8) {
    const std::string log = testing::ReadFile(log_file);
    const std::string gbk = platform::ToGbk(utf8);
    int n = 0;
    for (auto at = log.find(gbk); at != std::string::npos; at = log.find(gbk, at + 1)) ++n;
    return n;
  };
  const HostRecipe good{{{500, 400, 20}, {300, 250, 5}, {120, 100, 1}, {60, 40, 2}}};

  sim::Line line(SimSettings());
  line.AddController(1);
  PlantHost host(line, {1});
  ASSERT_TRUE(StartOnOneController(line, host));
  double weight = 1.0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostRecipe recipe = good;
    recipe[static_cast<std::size_t>(c.material - 1)] = c.bad;
    WriteRecipe(host, recipe);
    line.ClearTrace();
    const int refusals = count_in_log("配方下传被拒绝");
    ASSERT_TRUE(host.Write(kLoad, 1, TK571_VALUE_BOOL));
    ASSERT_TRUE(host.PollUntil([&] { return count_in_log("配方下传被拒绝") > refusals; }));
    // The refusal ends the write as a failed one, and the host is told.
    EXPECT_TRUE(host.PollUntil([&] { return host.Quality(kLoad) == TK571_QUALITY_WRITE_FAILED; }));
    host.PollFor(std::chrono::milliseconds(200));
    weight += 1.25;
    line.WithController(1, [&](sim::Controller& ctl, auto) { ctl.SetGrossWeight(weight); });
    EXPECT_TRUE(host.PollUntil([&] { return host.Number(kRead) == weight; }));
    EXPECT_EQ(WriteRequests(line.Trace()), std::vector<std::string>());
    EXPECT_EQ(line.GetRecipe(1), sim::Recipe{});
    EXPECT_EQ(count_in_log(c.log_line), 1) << platform::FromGbk(testing::ReadFile(log_file));
    EXPECT_EQ(count_in_log("配方下传被拒绝"), refusals + 1) << "refused once, not retried";
  }
  EXPECT_EQ(count_in_log("通讯写失败"), 0);

  WriteRecipe(host, good);
  ASSERT_TRUE(host.Write(kLoad, 1, TK571_VALUE_BOOL));
  // The dialogue runs on the driver's line thread: the last set-point is in
  // when the controller holds it.
  ASSERT_TRUE(
      host.PollUntil([&] { return line.GetRecipe(1)[3].fine_kg == 2; }, std::chrono::seconds(10)));
  EXPECT_EQ(line.GetRecipe(1),
            (sim::Recipe{{{500, 400, 20}, {300, 250, 5}, {120, 100, 1}, {60, 40, 2}}}));
  weight += 1.25;
  line.WithController(1, [&](sim::Controller& ctl, auto) { ctl.SetGrossWeight(weight); });
  EXPECT_TRUE(host.PollUntil([&] { return host.Number(kRead) == weight; }));
}

// A set-point the controller cannot show (above 9999 kg) is answered "?" at
// every attempt: the driver gives up after six, returns the controller to its
// main display, tries the whole load once more, and goes back to polling.
TEST(RecipeTest, SetpointTheControllerRefusesEndsTheLoad) {
  sim::Line line(SimSettings());
  line.AddController(1);
  PlantHost host(line, {1});
  ASSERT_TRUE(StartOnOneController(line, host));
  WriteRecipe(host, {{{10000, 400, 20}, {300, 250, 5}, {120, 100, 1}, {60, 40, 2}}});
  line.ClearTrace();
  ASSERT_TRUE(host.Write(kLoad, 1, TK571_VALUE_BOOL));
  ASSERT_TRUE(host.PollUntil(
      [&] { return testing::CountOf(WriteRequests(line.Trace()), "10000\r\n") == 12; },
      std::chrono::seconds(10)));
  line.WithController(1, [](sim::Controller& c, auto) { c.SetGrossWeight(4.5); });
  EXPECT_TRUE(host.PollUntil([&] { return host.Number(kRead) == 4.5; }));

  // Twice: into the menu, six offers of the value, back to the main display.
  std::vector<std::string> attempt{"R\r\n", "SET\r\n"};
  for (int i = 0; i < 6; ++i) attempt.push_back("10000\r\n");
  attempt.push_back("R\r\n");
  std::vector<std::string> expected = attempt;
  expected.insert(expected.end(), attempt.begin(), attempt.end());
  EXPECT_EQ(WriteRequests(line.Trace()), expected);
  EXPECT_EQ(line.GetRecipe(1), sim::Recipe{});
  bool in_menu = true;
  line.WithController(1, [&](sim::Controller& c, auto) { in_menu = c.InMenu(); });
  EXPECT_FALSE(in_menu);
  EXPECT_NE(host.Number(kLoad), 1.0);
}

// A controller that takes each typed set-point but echoes it without its
// label: no value can be confirmed, so the load fails as a write does, after
// one repeat of the whole dialogue, and the line goes on. READ_SETM, which
// types nothing, then shows what the controller took.
TEST(RecipeTest, EchoWithoutLabelFailsTheLoadAndNothingHangs) {
  testing::TempDir log_dir;
  SetLogFileName(log_dir / "TK571_485.Log");
  sim::Line line(SimSettings());
  line.AddController(1);
  PlantHost host(line, {1});
  ASSERT_TRUE(StartOnOneController(line, host));
  WriteRecipe(host, {{{500, 400, 20}, {300, 250, 5}, {120, 100, 1}, {60, 40, 2}}});
  line.SetFaults(1, {.bare_echo = true});
  line.ClearTrace();
  ASSERT_TRUE(host.Write(kLoad, 1, TK571_VALUE_BOOL));

  // Twice: into the menu, six offers of the first value, back to the main
  // display.
  std::vector<std::string> attempt{"R\r\n", "SET\r\n"};
  for (int i = 0; i < 6; ++i) attempt.push_back("500\r\n");
  attempt.push_back("R\r\n");
  std::vector<std::string> expected = attempt;
  expected.insert(expected.end(), attempt.begin(), attempt.end());
  ASSERT_TRUE(host.PollUntil([&] { return WriteRequests(line.Trace()) == expected; },
                             std::chrono::seconds(10)))
      << line.TraceText();
  line.WithController(1, [](sim::Controller& c, auto) { c.SetGrossWeight(4.5); });
  EXPECT_TRUE(host.PollUntil([&] { return host.Number(kRead) == 4.5; }));
  host.PollFor(std::chrono::milliseconds(300));
  EXPECT_EQ(WriteRequests(line.Trace()), expected);
  EXPECT_NE(host.Number(kLoad), 1.0);
  bool in_menu = true;
  line.WithController(1, [&](sim::Controller& c, auto) { in_menu = c.InMenu(); });
  EXPECT_FALSE(in_menu);
  // The controller took the value it could not confirm.
  EXPECT_EQ(line.GetRecipe(1)[0].final_kg, 500);

  ASSERT_TRUE(host.Write(kReadBack, 1, TK571_VALUE_BOOL));
  EXPECT_TRUE(
      host.PollUntil([&] { return host.Number(FinalId(1)) == 500.0; }, std::chrono::seconds(10)));
  line.WithController(1, [](sim::Controller& c, auto) { c.SetGrossWeight(6.25); });
  EXPECT_TRUE(host.PollUntil([&] { return host.Number(kRead) == 6.25; }));

  // The load counted as a failed write in the stop report.
  FreeDriver();
  const std::string log = testing::ReadFile(log_dir / "TK571_485.Log");
  EXPECT_NE(log.find(platform::ToGbk("地址=LOAD_SETM1:1，读扫描周期(毫秒)=0，读操作失败率= "
                                     "0%，写操作总次数=1，写操作失败率= 100%\r\n")),
            std::string::npos)
      << platform::FromGbk(log);
  EXPECT_NE(log.find(platform::ToGbk("：写操作失败总次数= 1\r\n")), std::string::npos)
      << platform::FromGbk(log);
}

}  // namespace
}  // namespace tk571
