// The simulator's wire contract, seen from the driver's end of a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/line_fixture.h"
#include "sim/test_port.h"
#include "tk571sim/line.h"

namespace tk571::sim {
namespace {

using std::chrono::milliseconds;
using namespace test;
using namespace std::string_literals;

void SetGross(Line& line, int number, double kg) {
  line.WithController(number, [kg](Controller& c, Clock::time_point) { c.SetGrossWeight(kg); });
}

// ---------------------------------------------------------------------------
// Selection

TEST(SimSelection, OnlyTheSelectedControllerAnswersOnAMultiDropLine) {
  Line line(FastLine());
  // Each controller shows its own weight, so the answer tells who answered.
  for (int number : {0, 2, 12}) {
    line.AddController(number);
    SetGross(line, number, number * 10 + 1);
  }
  TestPort port(line.LinkPath());
  RunSteps(port, {
                     {"READ\r\n", ""},  // none selected at power-up
                     {Select(2), kAck + "02\r\n"},
                     {"READ\r\n", "ST,GS,+0021.00kg\r\n"},
                     {Select(12), kAck + "12\r\n"},
                     {"READ\r\n", "ST,GS,+0121.00kg\r\n"},
                     {Select(0), kAck + "00\r\n"},
                     {"READ\r\n", "ST,GS,+0001.00kg\r\n"},
                     // Not a select request: the selected controller does not know it.
                     {"\x05ID2\r\n", "?\r\n"},
                     // Nobody has 07, and selecting it deselects the others.
                     {Select(7), ""},
                     {"READ\r\n", ""},
                     {"\x06\r\n", ""},
                     {Select(12), kAck + "12\r\n"},
                     {"READ\r\n", "ST,GS,+0121.00kg\r\n"},
                 });
  EXPECT_EQ(line.Selected(), 12);
}

TEST(SimSelection, Rs232ControllerAlwaysAnswers) {
  Line line(FastLine(LineMode::kRs232));
  line.AddController(5);
  EXPECT_THROW(line.AddController(6), std::invalid_argument);
  TestPort port(line.LinkPath());
  RunSteps(port, {
                     {"READ\r\n", "ST,GS,+0000.00kg\r\n"},
                     // The one controller on the line acknowledges any number asked.
                     {Select(3), kAck + "03\r\n"},
                     {"READ\r\n", "ST,GS,+0000.00kg\r\n"},
                 });
}

TEST(SimSelection, RejectsImpossibleControllers) {
  Line line(FastLine());
  line.AddController(99);
  EXPECT_THROW(line.AddController(99), std::invalid_argument);
  EXPECT_THROW(line.AddController(100), std::invalid_argument);
  EXPECT_THROW(line.AddController(-1), std::invalid_argument);
  EXPECT_THROW(line.SetFaults(98, Faults()), std::out_of_range);
}

// ---------------------------------------------------------------------------
// Readings and the status line

TEST(SimReading, LiveWeightIsSixteenCharactersAndCrLf) {
  struct Case {
    double gross_kg;
    bool overload;
    std::string answer;
  };
  const std::vector<Case> cases = {
      {0.0, false, "ST,GS,+0000.00kg\r\n"},     {12.5, false, "ST,GS,+0012.50kg\r\n"},
      {-0.2, false, "ST,GS,-0000.20kg\r\n"},    {-0.001, false, "ST,GS,+0000.00kg\r\n"},
      {9999.99, false, "ST,GS,+9999.99kg\r\n"}, {10000.0, false, "OL,GS,+9999.99kg\r\n"},
      {12.5, true, "OL,GS,+0012.50kg\r\n"},
  };
  Line line(FastLine(LineMode::kRs232));
  line.AddController(1);
  TestPort port(line.LinkPath());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    line.WithController(1, [&](Controller& controller, Clock::time_point) {
      controller.SetGrossWeight(c.gross_kg);
      controller.SetOverload(c.overload);
    });
    const std::string answer = port.Ask("READ\r\n");
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(answer.size(), 18u);
  }
}

// Value of material k (1..4) from a status line: 8 characters from column 7
// of its 18-character field.
double StatusValue(const std::string& status, int k) {
  return std::stod(status.substr(18 * (k - 1) + 6, 8));
}

TEST(SimReading, StatusLineIsSeventyTwoCharactersOfFourFields) {
  Line line(FastLine(LineMode::kRs232));
  line.AddController(1);
  TestPort port(line.LinkPath());
  const std::string status = port.Ask(kAck + "\r\n");
  EXPECT_EQ(status, "M1,NT,+0000.00kg, M2,NT,+0000.00kg, M3,NT,+0000.00kg, M4,NT,+0000.00kg\r\n");
  EXPECT_EQ(status.size(), 72u);
}

// ---------------------------------------------------------------------------
// Set-point menu

const std::vector<std::string> kLabels = {"M1 FINAL",  "M1 COARSE", "M1 FINE",   "M2 FINAL",
                                          "M2 COARSE", "M2 FINE",   "M3 FINAL",  "M3 COARSE",
                                          "M3 FINE",   "M4 FINAL",  "M4 COARSE", "M4 FINE"};

// The load dialogue a driver runs: R, SET, then for each of the twelve items
// the value (checking the echo) and N; finally R.
TEST(SimMenu, LoadDialogueSetsEveryItemAndEchoesIt) {
  Line line(FastLine(LineMode::kRs232));
  line.AddController(1);
  TestPort port(line.LinkPath());
  const std::vector<std::string> typed = {
      "500", "100", "10", "300.4", "50", "5", "12.3000001907349", "2", "0", "9999", "0.6", "1E-5"};
  EXPECT_EQ(port.Ask("R\r\n"), "YES\r\n");
  EXPECT_EQ(port.Ask("SET\r\n"), "M1 FINAL  0000\r\n");
  for (std::size_t i = 0; i < typed.size(); ++i) {
    SCOPED_TRACE(kLabels[i]);
    EXPECT_EQ(port.Ask(typed[i] + "\r\n"), kLabels[i] + " " + typed[i] + "\r\n");
    const std::string prompt = port.Ask("N\r\n");
    EXPECT_EQ(prompt.substr(0, kLabels[(i + 1) % 12].size()), kLabels[(i + 1) % 12]);
  }
  EXPECT_EQ(port.Ask("R\r\n"), "YES\r\n");
  const Recipe expected = {{{500, 100, 10}, {300, 50, 5}, {12, 2, 0}, {9999, 1, 0}}};
  EXPECT_EQ(line.GetRecipe(1), expected);
}

// The read dialogue: the value of each item sits in characters 11..14 of its
// prompt; after M4 FINE the menu starts over.
TEST(SimMenu, PromptsShowEachItemWithItsValue) {
  Line line(FastLine(LineMode::kRs232));
  line.AddController(1);
  line.SetRecipe(1, {{{500, 100, 10}, {300, 50, 5}, {12, 2, 0}, {9999, 1, 0}}});
  TestPort port(line.LinkPath());
  const std::vector<std::string> prompts = {
      "M1 FINAL  0500", "M1 COARSE 0100", "M1 FINE   0010", "M2 FINAL  0300", "M2 COARSE 0050",
      "M2 FINE   0005", "M3 FINAL  0012", "M3 COARSE 0002", "M3 FINE   0000", "M4 FINAL  9999",
      "M4 COARSE 0001", "M4 FINE   0000", "M1 FINAL  0500"};
  EXPECT_EQ(port.Ask("SET\r\n"), prompts[0] + "\r\n");
  for (std::size_t i = 1; i < prompts.size(); ++i) {
    EXPECT_EQ(port.Ask("N\r\n"), prompts[i] + "\r\n");
  }
  // SET always starts at the first item.
  EXPECT_EQ(port.Ask("N\r\n"), "M1 COARSE 0100\r\n");
  EXPECT_EQ(port.Ask("SET\r\n"), prompts[0] + "\r\n");
}

TEST(SimMenu, RefusedInputLeavesTheItemUnchanged) {
  Line line(FastLine(LineMode::kRs232));
  line.AddController(1);
  line.SetRecipe(1, {{{500, 100, 10}, {300, 50, 5}, {200, 20, 2}, {100, 10, 0}}});
  TestPort port(line.LinkPath());
  RunSteps(port, {
                     // Outside the menu neither a number nor N means anything.
                     {"500\r\n", "?\r\n"},
                     {"N\r\n", "?\r\n"},
                     {"SET\r\n", "M1 FINAL  0500\r\n"},
                     {"10000\r\n", "?\r\n"},
                     {"9999.5\r\n", "?\r\n"},
                     {"-1\r\n", "?\r\n"},
                     {"12,3\r\n", "?\r\n"},
                     {"1 2\r\n", "?\r\n"},
                     {"inf\r\n", "?\r\n"},
                     {"+\r\n", "?\r\n"},
                     {"\r\n", "?\r\n"},
                     {"R\r\n", "YES\r\n"},
                     {"SET\r\n", "M1 FINAL  0500\r\n"},
                     {"-0.4\r\n", "M1 FINAL -0.4\r\n"},  // rounds to 0
                     {"R\r\n", "YES\r\n"},
                     {"400\r\n", "?\r\n"},
                 });
  EXPECT_EQ(line.GetRecipe(1)[0].final_kg, 0);
}

// ---------------------------------------------------------------------------
// Production

TEST(SimProduction, StartNeedsAValidRecipeAndNoRunningBatch) {
  const Recipe good = {{{500, 100, 10}, {300, 50, 5}, {200, 20, 2}, {100, 10, 0}}};
  auto with = [&](int material, MaterialSetpoints m) {
    Recipe r = good;
    r[material] = m;
    return r;
  };
  struct Case {
    std::string name;
    Recipe recipe;
    std::string first;
    std::string second;  // a second ST while the first batch runs
  };
  const std::vector<Case> cases = {
      {"empty recipe", Recipe{}, "NO ?\r\n", "NO ?\r\n"},
      {"good recipe", good, "YES\r\n", "NO ?\r\n"},
      {"final equals coarse", with(1, {100, 100, 10}), "NO ?\r\n", "NO ?\r\n"},
      {"coarse equals fine", with(2, {100, 10, 10}), "NO ?\r\n", "NO ?\r\n"},
      {"coarse above final", with(3, {100, 200, 10}), "NO ?\r\n", "NO ?\r\n"},
      {"unused material", with(3, {0, 0, 0}), "NO ?\r\n", "NO ?\r\n"},
      {"smallest material", with(3, {2, 1, 0}), "YES\r\n", "NO ?\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Line line(FastLine(LineMode::kRs232));
    line.AddController(1);
    line.SetRecipe(1, c.recipe);
    TestPort port(line.LinkPath());
    EXPECT_EQ(port.Ask("ST\r\n"), c.first);
    EXPECT_EQ(port.Ask("ST\r\n"), c.second);
    EXPECT_EQ(port.Ask("ABO\r\n"), "YES\r\n");
    EXPECT_FALSE(line.Batch(1).running);
  }
}

TEST(SimProduction, AbortStopsTheBatchWhereItIs) {
  Line line(FastLine(LineMode::kRs232));
  line.AddController(1);  // default rates: a batch takes minutes
  line.SetRecipe(1, {{{500, 100, 10}, {300, 50, 5}, {200, 20, 2}, {100, 10, 0}}});
  TestPort port(line.LinkPath());
  EXPECT_EQ(port.Ask("ST\r\n"), "YES\r\n");
  EXPECT_EQ(port.Ask("READ\r\n").substr(0, 6), "US,GS,");
  EXPECT_EQ(port.Ask("ABO\r\n"), "YES\r\n");
  const BatchState state = line.Batch(1);
  EXPECT_FALSE(state.running);
  EXPECT_TRUE(state.aborted);
  EXPECT_FALSE(state.finished[0]);
  EXPECT_EQ(port.Ask("READ\r\n").substr(0, 6), "ST,GS,");
  EXPECT_EQ(port.Ask("ST\r\n"), "YES\r\n");  // a new batch may start
}

// Runs one batch to its end over the wire and returns the status line.
std::string RunBatch(Line& line, TestPort& port) {
  EXPECT_EQ(port.Ask("ST\r\n"), "YES\r\n");
  EXPECT_EQ(port.Ask("READ\r\n").substr(0, 6), "US,GS,");
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (line.Batch(1).running && Clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  return port.Ask(kAck + "\r\n");
}

TEST(SimProduction, BatchEndsWithTheFinalAmounts) {
  const Recipe recipe = {{{500, 100, 10}, {300, 50, 5}, {200, 20, 2}, {100, 10, 0}}};
  const DosingRates rates{20000.0, 4000.0, milliseconds(10)};
  Line line(FastLine(LineMode::kRs232));
  line.AddController(1, rates);
  line.SetRecipe(1, recipe);
  constexpr double kHopperKg = 100.0;
  SetGross(line, 1, kHopperKg);
  TestPort port(line.LinkPath());

  const std::string status = RunBatch(line, port);
  ASSERT_EQ(status.size(), 72u);
  const BatchState state = line.Batch(1);
  double total = 0.0;
  for (int k = 1; k <= kMaterialCount; ++k) {
    SCOPED_TRACE("material " + std::to_string(k));
    const MaterialSetpoints& m = recipe[k - 1];
    const double amount = StatusValue(status, k);
    EXPECT_EQ(status.substr(18 * (k - 1), 3), "M" + std::to_string(k) + ",");
    // The feed stops at FINAL - FINE; about FINE more lands afterwards.
    EXPECT_NEAR(amount, m.final_kg, 0.1 * m.fine_kg + 0.005);
    EXPECT_TRUE(state.finished[k - 1]);
    EXPECT_DOUBLE_EQ(amount, state.amounts_kg[k - 1]);
    total += amount;
  }
  // Gross weight: the hopper and the batch; net weight: the batch alone.
  const std::string gross = port.Ask("READ\r\n");
  EXPECT_EQ(gross.substr(0, 6), "ST,GS,");
  EXPECT_NEAR(std::stod(gross.substr(6, 8)), kHopperKg + total, 0.02);
  line.WithController(1, [](Controller& c, Clock::time_point) { c.SetWeighMode(WeighMode::kNet); });
  const std::string net = port.Ask("READ\r\n");
  EXPECT_EQ(net.substr(0, 6), "ST,NT,");
  EXPECT_NEAR(std::stod(net.substr(6, 8)), total, 0.02);

  // The same seed doses the same amounts.
  Line twin(FastLine(LineMode::kRs232));
  twin.AddController(1, rates);
  twin.SetRecipe(1, recipe);
  TestPort twin_port(twin.LinkPath());
  EXPECT_EQ(RunBatch(twin, twin_port), status);
}

// ---------------------------------------------------------------------------
// Line timing

TEST(SimTiming, ExchangeTakesAtLeastItsLineTime) {
  struct Case {
    int baud;
    int data_bits;
    Parity parity;
    double stop_bits;
    int bits_per_character;
  };
  const std::vector<Case> cases = {
      {9600, 8, Parity::kNone, 1.0, 10},
      {4800, 7, Parity::kEven, 2.0, 11},
      {2400, 7, Parity::kEven, 1.0, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.baud) + " baud");
    LineSettings settings = FastLine(LineMode::kRs232);
    settings.baud = c.baud;
    settings.data_bits = c.data_bits;
    settings.parity = c.parity;
    settings.stop_bits = c.stop_bits;
    Line line(settings);
    line.AddController(1);
    TestPort port(line.LinkPath());
    // READ CR LF out, 16 characters and CR LF back: 24 characters, plus the
    // turnaround.
    const auto line_time =
        std::chrono::duration<double>(24.0 * c.bits_per_character / c.baud) + settings.turnaround;
    const auto start = Clock::now();
    EXPECT_EQ(port.Ask("READ\r\n").size(), 18u);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, line_time);
    EXPECT_LT(elapsed, line_time + std::chrono::seconds(1));
  }
}

// ---------------------------------------------------------------------------
// Bad input

TEST(SimBadInput, UnknownRequestsGetAQuestionMarkAndALogLine) {
  Line line(FastLine(LineMode::kRs232));
  line.AddController(1);
  TestPort port(line.LinkPath());
  RunSteps(port, {
                     {"HELLO\r\n", "?\r\n"},
                     {"read\r\n", "?\r\n"},
                     {"READ \r\n", "?\r\n"},
                     {"READ\n", "?\r\n"},  // LF without CR
                     {"\xFF\x00\x80\r\n"s, "?\r\n"},
                     // A run of bytes without LF is dropped whole; the line
                     // recovers with the next request.
                     {std::string(257, 'A') + "READ\r\n", "ST,GS,+0000.00kg\r\n"},
                 });
  const std::vector<std::string> log = line.LogLines();
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& l) {
    return l.find("unknown request: HELLO") != std::string::npos;
  }));
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& l) {
    return l.find("not ended by CR LF") != std::string::npos;
  }));
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& l) {
    return l.find("dropped 257 bytes") != std::string::npos;
  }));
}

// ---------------------------------------------------------------------------
// Faults

bool HasLetter(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return std::isalpha(uint8_t(c)); });
}

TEST(SimFaults, EachFaultShowsOnTheWire) {
  const std::string reading = "ST,GS,+0000.00kg\r\n";
  struct Case {
    std::string name;
    Faults faults;
    // The answer is read up to this; empty: whatever comes within kQuiet.
    std::string until;
    // Checks what the driver read, and the answer pieces in the trace.
    std::function<void(const std::string& got, const std::vector<TraceEntry>& answers)> check;
  };
  auto faults = [](auto change) {
    Faults f;
    change(f);
    return f;
  };
  const std::vector<Case> cases = {
      {"none", Faults(), reading,
       [&](const std::string& got, const auto& answers) {
         EXPECT_EQ(got, reading);
         EXPECT_EQ(answers.size(), 1u);
       }},
      {"silent", faults([](Faults& f) { f.silent = true; }), "",
       [&](const std::string& got, const auto& answers) {
         EXPECT_EQ(got, "");
         EXPECT_TRUE(answers.empty());
       }},
      {"garbage", faults([](Faults& f) { f.garbage = true; }), "\r\n",
       [&](const std::string& got, const auto&) {
         EXPECT_EQ(got.size(), reading.size());
         EXPECT_TRUE(got.ends_with("\r\n"));
         EXPECT_FALSE(HasLetter(got)) << got;
       }},
      {"split", faults([](Faults& f) {
         f.split_parts = 3;
         f.split_gap = milliseconds(30);
       }),
       reading,
       [&](const std::string& got, const auto& answers) {
         EXPECT_EQ(got, reading);
         ASSERT_EQ(answers.size(), 3u);
         EXPECT_EQ(answers[0].bytes + answers[1].bytes + answers[2].bytes, reading);
         EXPECT_GE(answers[2].at - answers[0].at, 2 * milliseconds(30));
       }},
      {"drop CR LF", faults([](Faults& f) { f.drop_crlf = true; }), "kg",
       [&](const std::string& got, const auto&) { EXPECT_EQ(got, "ST,GS,+0000.00kg"); }},
      {"noise", faults([](Faults& f) { f.noise_bytes = 5; }), reading,
       [&](const std::string& got, const auto&) {
         ASSERT_EQ(got.size(), 5 + reading.size());
         EXPECT_TRUE(got.ends_with(reading));
         EXPECT_EQ(got.substr(0, 5).find_first_of("\r\n\x06"), std::string::npos);
       }},
  };
  Line line(FastLine());
  line.AddController(1);
  TestPort port(line.LinkPath());
  ASSERT_EQ(port.Ask(Select(1)), kAck + "01\r\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    line.SetFaults(1, c.faults);
    line.ClearTrace();
    port.Send("READ\r\n");
    const std::string got =
        c.until.empty() ? port.ReadFor(kQuiet) : port.ReadUntil(c.until, kAnswerTimeout);
    c.check(got, Answers(line.Trace()));
  }
}

TEST(SimFaults, LateAnswerComesAfterTheDelay) {
  Line line(FastLine(LineMode::kRs232));
  line.AddController(1);
  line.SetFaults(1, [] {
    Faults f;
    f.late = milliseconds(250);
    return f;
  }());
  TestPort port(line.LinkPath());
  port.Send("READ\r\n");
  // A driver waiting 200 ms sees nothing...
  EXPECT_EQ(port.ReadFor(milliseconds(200)), "");
  // ...and the answer still comes.
  EXPECT_EQ(port.ReadUntil("\r\n", kAnswerTimeout), "ST,GS,+0000.00kg\r\n");
}

TEST(SimFaults, SilentControllerStillLetsTheOthersWork) {
  Line line(FastLine());
  line.AddController(1);
  line.AddController(2);
  Faults silent;
  silent.silent = true;
  line.SetFaults(2, silent);
  TestPort port(line.LinkPath());
  RunSteps(port, {
                     {Select(2), ""},
                     {"READ\r\n", ""},
                     {Select(1), kAck + "01\r\n"},
                     {"READ\r\n", "ST,GS,+0000.00kg\r\n"},
                 });
  line.SetFaults(2, Faults());
  RunSteps(port, {{Select(2), kAck + "02\r\n"}});
}

TEST(SimFaults, UnplugHangsUpThePortAndReplugComesBackAtTheLink) {
  Line line(FastLine());
  line.AddController(1);
  const std::string link = line.LinkPath();
  const std::string first_slave = line.SlavePath();
  {
    TestPort port(link);
    ASSERT_EQ(port.Ask(Select(1)), kAck + "01\r\n");
    line.Unplug();
    EXPECT_FALSE(line.Plugged());
    EXPECT_TRUE(port.HungUp());
    EXPECT_EQ(line.SlavePath(), "");
    EXPECT_THROW(TestPort again(link), std::system_error);
    line.Replug();
    // The old port stays dead; the driver must open the link again.
    EXPECT_TRUE(port.HungUp());
  }
  EXPECT_TRUE(line.Plugged());
  EXPECT_NE(line.SlavePath(), "");
  TestPort port(link);
  // The controllers kept their state, selection included.
  EXPECT_EQ(port.Ask("READ\r\n"), "ST,GS,+0000.00kg\r\n");
  EXPECT_NE(first_slave, "");
}

// ---------------------------------------------------------------------------
// Trace

#ifndef TK571_SIM_GOLDEN_DIR
#error "TK571_SIM_GOLDEN_DIR must name the directory of the expected traces"
#endif

// Set TK571_UPDATE_GOLDEN=1 to rewrite the expected file on purpose.
void CompareWithGolden(const std::string& name, const std::string& actual) {
  const std::string path = std::string(TK571_SIM_GOLDEN_DIR) + "/" + name;
  if (std::getenv("TK571_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(path) << actual;
    return;
  }
  std::ifstream file(path);
  ASSERT_TRUE(file) << "missing " << path;
  std::stringstream expected;
  expected << file.rdbuf();
  EXPECT_EQ(actual, expected.str());
}

TEST(SimTrace, SelectReadStatusAndMenuMatchTheGoldenTrace) {
  Line line(FastLine());
  line.AddController(1);
  line.SetRecipe(1, {{{500, 100, 10}, {300, 50, 5}, {200, 20, 2}, {100, 10, 0}}});
  TestPort port(line.LinkPath());
  for (const std::string& request :
       {Select(1), "READ\r\n"s, kAck + "\r\n", "R\r\n"s, "SET\r\n"s, "12.3000001907349\r\n"s,
        "N\r\n"s, "R\r\n"s, "ST\r\n"s, "ABO\r\n"s, "BAD\r\n"s}) {
    port.Ask(request);
  }
  ASSERT_TRUE(line.WaitForTrace(22, kAnswerTimeout));
  CompareWithGolden("select_read_menu.trace", line.TraceText());

  // With times, every line starts with milliseconds since the line began.
  const std::string timed = FormatTraceEntry(line.Trace().front(), true);
  EXPECT_TRUE(timed.ends_with(" >> 05 49 44 30 31 0D 0A")) << timed;
}

TEST(SimTrace, ListenerSeesEachFinishedEntry) {
  Line line(FastLine(LineMode::kRs232));
  line.AddController(1);
  std::mutex mutex;
  std::vector<std::string> seen;
  line.SetTraceListener([&](const TraceEntry& entry) {
    std::lock_guard lock(mutex);
    seen.push_back(FormatTraceEntry(entry));
  });
  TestPort port(line.LinkPath());
  port.Ask("R\r\n");
  // The listener runs on the line's thread, after the entry is finished.
  const auto deadline = Clock::now() + kAnswerTimeout;
  for (;;) {
    {
      std::lock_guard lock(mutex);
      if (seen.size() >= 2 || Clock::now() > deadline) break;
    }
    std::this_thread::sleep_for(milliseconds(5));
  }
  line.SetTraceListener(nullptr);
  std::lock_guard lock(mutex);
  EXPECT_EQ(seen, (std::vector<std::string>{">> 52 0D 0A", "<< 59 45 53 0D 0A"}));
}

}  // namespace
}  // namespace tk571::sim
