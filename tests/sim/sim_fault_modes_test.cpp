// The faults a controller shows on the wire for one kind of answer only: the
// late answer to "R", the paused status line, a fixed noise byte, a set-point
// echo without its label, a controller that only acknowledges its select,
// continuous output, a power cycle and an adapter that echoes the request.
#include <gtest/gtest.h>

#include <functional>
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

const std::string kReading = "ST,GS,+0000.00kg\r\n";
const std::string kStatus =
    "M1,NT,+0000.00kg, M2,NT,+0000.00kg, M3,NT,+0000.00kg, M4,NT,+0000.00kg\r\n";

Faults With(const std::function<void(Faults&)>& change) {
  Faults f;
  change(f);
  return f;
}

// From the request's first byte to the answer's first byte, as the line
// scheduled them: request time on the wire, turnaround and any delay. It
// comes from the simulator's own schedule, not from a clock reading of the
// test.
Clock::duration Gap(const TraceEntry& request, const TraceEntry& answer) {
  return answer.at - request.at;
}

// One request against one fault: what the driver reads, the pieces the
// answer went out in and the pauses the line scheduled between them.
TEST(SimFaultModes, EachFaultChangesItsKindOfAnswerOnly) {
  const auto late_r = milliseconds(300);
  const auto pause = milliseconds(250);
  struct Case {
    std::string name;
    Faults faults;
    // Sent without faults first (the menu state the request needs).
    std::vector<std::string> setup;
    std::string request;
    std::string answer;
    // Lengths of the answer's pieces on the wire.
    std::vector<std::size_t> pieces;
    // The request's trace entry and the answer pieces.
    std::function<void(const TraceEntry&, const std::vector<TraceEntry>&)> check;
    // The line's adapter echoes the request.
    bool local_echo = false;
  };
  const Faults late = With([&](Faults& f) { f.late_r = late_r; });
  const Faults paused = With([&](Faults& f) { f.status_pause = pause; });
  const Faults bare = With([](Faults& f) { f.bare_echo = true; });
  const auto answers_at_once = [&](const TraceEntry& request, const std::vector<TraceEntry>& a) {
    EXPECT_LT(Gap(request, a[0]), late_r);
  };
  const std::vector<Case> cases = {
      {"late R: the answer to R waits",
       late,
       {},
       "R\r\n",
       "YES\r\n",
       {5},
       [&](const TraceEntry& request, const std::vector<TraceEntry>& a) {
         EXPECT_GE(Gap(request, a[0]), late_r);
       }},
      {"late R: YES to ABO does not", late, {}, "ABO\r\n", "YES\r\n", {5}, answers_at_once},
      {"late R: a reading does not", late, {}, "READ\r\n", kReading, {18}, answers_at_once},
      {"status pause: after 18 characters",
       paused,
       {},
       "\x06\r\n",
       kStatus,
       {18, 54},
       [&](const TraceEntry&, const std::vector<TraceEntry>& a) {
         EXPECT_GE(a[1].at - a[0].at, pause);
         EXPECT_EQ(a[0].bytes, kStatus.substr(0, 18));
       }},
      {"status pause: after 40 characters",
       With([&](Faults& f) {
         f.status_pause = pause;
         f.status_pause_after = 40;
       }),
       {},
       "\x06\r\n",
       kStatus,
       {40, 32},
       nullptr},
      {"status pause: a reading goes in one piece",
       paused,
       {},
       "READ\r\n",
       kReading,
       {18},
       nullptr},
      {"status pause: the noise byte goes before the pause",
       With([&](Faults& f) {
         f.status_pause = pause;
         f.noise_byte = 0xFF;
       }),
       {},
       "\x06\r\n",
       "\xFF" + kStatus,
       {19, 54},
       nullptr},
      {"noise byte before a reading",
       With([](Faults& f) { f.noise_byte = 0x00; }),
       {},
       "READ\r\n",
       std::string(1, '\0') + kReading,
       {19},
       nullptr},
      {"noise byte before an acknowledgement",
       With([](Faults& f) { f.noise_byte = 0xFF; }),
       {},
       Select(1),
       "\xFF" + kAck + "01\r\n",
       {6},
       nullptr},
      {"noise byte before YES",
       With([](Faults& f) { f.noise_byte = 0x7F; }),
       {},
       "R\r\n",
       "\x7FYES\r\n",
       {6},
       nullptr},
      {"noise byte before a refusal",
       With([](Faults& f) { f.noise_byte = 0x0D; }),
       {},
       "HELLO\r\n",
       "\r?\r\n",
       {4},
       nullptr},
      {"bare echo: the value without its label",
       bare,
       {"SET\r\n"},
       "500\r\n",
       "500\r\n",
       {5},
       nullptr},
      {"bare echo: as typed",
       bare,
       {"SET\r\n"},
       "12.3000001907349\r\n",
       "12.3000001907349\r\n",
       {18},
       nullptr},
      {"bare echo: prompts keep their label",
       bare,
       {"SET\r\n"},
       "N\r\n",
       "M1 COARSE 0000\r\n",
       {16},
       nullptr},
      {"bare echo: a refused value still gets ?",
       bare,
       {"SET\r\n"},
       "10000\r\n",
       "?\r\n",
       {3},
       nullptr},
      {"local echo: the request comes back, then its answer",
       Faults(),
       {},
       "READ\r\n",
       "READ\r\n" + kReading,
       {6, 18},
       nullptr,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Line line(FastLine(LineMode::kRs232));
    line.AddController(1);
    TestPort port(line.LinkPath());
    for (const std::string& request : c.setup) port.Ask(request);
    line.SetFaults(1, c.faults);
    line.SetLocalEcho(c.local_echo);
    line.ClearTrace();
    port.Send(c.request);
    EXPECT_EQ(port.ReadUntil(c.answer, kAnswerTimeout), c.answer);
    ASSERT_TRUE(line.WaitForTrace(1 + c.pieces.size(), kAnswerTimeout));
    const std::vector<TraceEntry> trace = line.Trace();
    const std::vector<TraceEntry> answers = Answers(trace);
    std::vector<std::size_t> lengths;
    for (const TraceEntry& e : answers) lengths.push_back(e.bytes.size());
    EXPECT_EQ(lengths, c.pieces);
    if (c.check && !answers.empty()) c.check(trace.front(), answers);
  }
}

// The typed value still counts with a bare echo: only the echo lacks the
// label.
TEST(SimFaultModes, BareEchoStillSetsTheItem) {
  Line line(FastLine(LineMode::kRs232));
  line.AddController(1);
  line.SetFaults(1, With([](Faults& f) { f.bare_echo = true; }));
  TestPort port(line.LinkPath());
  RunSteps(port, {{"SET\r\n", "M1 FINAL  0000\r\n"},
                  {"500\r\n", "500\r\n"},
                  {"N\r\n", "M1 COARSE 0000\r\n"},
                  {"100\r\n", "100\r\n"},
                  {"R\r\n", "YES\r\n"}});
  EXPECT_EQ(line.GetRecipe(1)[0], (MaterialSetpoints{500, 100, 0}));
}

// A controller whose select works and nothing else: the driver sees ACK nn,
// then silence, and the controller does not act on what it is sent.
TEST(SimFaultModes, SelectOnlyControllerAcknowledgesAndDoesNothingElse) {
  Line line(FastLine());
  line.AddController(1);
  line.AddController(2);
  line.SetRecipe(1, {{{500, 100, 10}, {300, 50, 5}, {200, 20, 2}, {100, 10, 0}}});
  line.SetFaults(1, With([](Faults& f) { f.select_only = true; }));
  TestPort port(line.LinkPath());
  RunSteps(port, {
                     {Select(1), kAck + "01\r\n"},
                     {"READ\r\n", ""},
                     {"\x06\r\n", ""},
                     {"R\r\n", ""},
                     {"SET\r\n", ""},
                     {"0\r\n", ""},
                     {"ST\r\n", ""},
                     {"HELLO\r\n", ""},
                     // The other controller is not affected.
                     {Select(2), kAck + "02\r\n"},
                     {"READ\r\n", kReading},
                     {Select(1), kAck + "01\r\n"},
                 });
  EXPECT_FALSE(line.Batch(1).running);
  EXPECT_EQ(line.GetRecipe(1)[0].final_kg, 500);
  line.SetFaults(1, Faults());
  RunSteps(port, {{"READ\r\n", kReading}});
}

// A controller in continuous output puts its weight line on the line every
// period, unasked and unselected, until the mode is switched off.
TEST(SimFaultModes, ContinuousOutputComesUnasked) {
  Line line(FastLine());
  line.AddController(1);
  line.AddController(2);
  TestPort port(line.LinkPath());
  ASSERT_EQ(port.Ask(Select(1)), kAck + "01\r\n");
  line.SetFaults(2, With([](Faults& f) { f.continuous = milliseconds(30); }));
  const std::string streamed = port.ReadFor(milliseconds(200));
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = streamed.find(kReading, at)) != std::string::npos; ++at) ++lines;
  EXPECT_GE(lines, 3u) << streamed;
  EXPECT_TRUE(streamed.starts_with(kReading)) << streamed;
  line.SetFaults(2, Faults());
  port.ReadFor(kQuiet);
  EXPECT_EQ(port.ReadFor(kQuiet), "");
}

// A power cycle: dark for its time, then back in its power-up state: not
// selected and out of the menu.
TEST(SimFaultModes, PowerCycleForgetsSelectionAndMenu) {
  const auto dark = milliseconds(300);
  Line line(FastLine());
  line.AddController(1);
  TestPort port(line.LinkPath());
  RunSteps(port, {{Select(1), kAck + "01\r\n"}, {"SET\r\n", "M1 FINAL  0000\r\n"}});
  line.SetFaults(1, With([&](Faults& f) { f.power_cycle = dark; }));
  EXPECT_EQ(line.GetFaults(1), Faults());
  EXPECT_FALSE(line.Selected().has_value());
  // Dark: a select is not heard either.
  RunSteps(port, {{Select(1), ""}});
  std::this_thread::sleep_for(dark);
  RunSteps(
      port,
      {{"READ\r\n", ""}, {Select(1), kAck + "01\r\n"}, {"N\r\n", "?\r\n"}, {"READ\r\n", kReading}});
}

TEST(SimFaultModes, ImpossibleFaultsAreRefused) {
  Line line(FastLine());
  line.AddController(1);
  const std::vector<Faults> cases = {
      With([](Faults& f) { f.late_r = milliseconds(-1); }),
      With([](Faults& f) { f.status_pause = milliseconds(-1); }),
      With([](Faults& f) { f.status_pause_after = 0; }),
      With([](Faults& f) { f.continuous = milliseconds(-1); }),
  };
  for (const Faults& faults : cases) EXPECT_THROW(line.SetFaults(1, faults), std::invalid_argument);
  EXPECT_EQ(line.GetFaults(1), Faults());
}

}  // namespace
}  // namespace tk571::sim
