// Overlaps: a request whose first byte arrives while a controller still has
// an answer on the line or due. On a half-duplex pair the two would collide,
// so a driver that waits for each answer makes none.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
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

Faults With(const std::function<void(Faults&)>& change) {
  Faults f;
  change(f);
  return f;
}

TEST(SimOverlap, CountsRequestsThatStartWhileAnAnswerIsOnTheLineOrDue) {
  struct Case {
    std::string name;
    int baud;
    Faults faults;
    // What the driver does after selecting controller 1.
    std::function<void(TestPort&)> drive;
    // One per overlap: its kind and S of N (S bytes of an N-byte answer
    // sent); "sending" alone: somewhere inside a status line.
    std::vector<std::string> marks;
  };
  const std::vector<Case> cases = {
      {"each answer awaited",
       kFastBaud,
       Faults(),
       [](TestPort& port) {
         port.Ask("READ\r\n");
         port.Ask("\x06\r\n");
         port.Ask("READ\r\n");
       },
       {}},
      {"a silent controller",
       kFastBaud,
       With([](Faults& f) { f.silent = true; }),
       [](TestPort& port) {
         port.Send("READ\r\n");
         port.ReadFor(kQuiet);
         port.Send("READ\r\n");
         port.ReadFor(kQuiet);
       },
       {}},
      {"two requests back to back",
       kFastBaud,
       Faults(),
       [](TestPort& port) {
         port.Send("READ\r\nREAD\r\n");
         port.ReadUntil(kReading + kReading, kAnswerTimeout);
       },
       {"pending, 0 of 18"}},
      {"the next request while the answer to R is late",
       kFastBaud,
       With([](Faults& f) { f.late_r = milliseconds(300); }),
       [](TestPort& port) {
         // As a driver that sends READ right after its 80 ms pause.
         port.Send("R\r\nREAD\r\n");
         // The late answer comes first, the reading queues behind it.
         EXPECT_EQ(port.ReadUntil(kReading, kAnswerTimeout), "YES\r\n" + kReading);
       },
       {"pending, 0 of 5"}},
      {"a request in the middle of a status line",
       1200,
       Faults(),
       [](TestPort& port) {
         port.Send("\x06\r\n");
         ASSERT_EQ(port.ReadUntil("M1,", kAnswerTimeout), "M1,");
         port.Send("READ\r\n");
         port.ReadUntil(kReading, milliseconds(5000));
       },
       {"sending"}},
      {"a request in the pause of a status line",
       kFastBaud,
       With([](Faults& f) { f.status_pause = milliseconds(500); }),
       [](TestPort& port) {
         port.Send("\x06\r\n");
         ASSERT_EQ(port.ReadUntil("M1,NT,+0000.00kg, ", kAnswerTimeout), "M1,NT,+0000.00kg, ");
         port.Send("READ\r\n");
         port.ReadUntil(kReading, kAnswerTimeout);
       },
       {"paused, 18 of 72"}},
      {"a request between the pieces of a split answer",
       kFastBaud,
       With([](Faults& f) {
         f.split_parts = 2;
         f.split_gap = milliseconds(500);
       }),
       [](TestPort& port) {
         port.Send("READ\r\n");
         ASSERT_EQ(port.ReadUntil("+00", kAnswerTimeout), "ST,GS,+00");
         port.Send("READ\r\n");
         port.ReadUntil(kReading, kAnswerTimeout);
       },
       {"paused, 9 of 18"}},
      {"a noise byte belongs to the answer",
       kFastBaud,
       With([](Faults& f) { f.noise_byte = 0xFF; }),
       [](TestPort& port) {
         port.Send("READ\r\nREAD\r\n");
         port.ReadUntil(kReading + "\xFF" + kReading, kAnswerTimeout);
       },
       {"pending, 0 of 19"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineSettings settings = FastLine();
    settings.baud = c.baud;
    Line line(settings);
    line.AddController(1);
    TestPort port(line.LinkPath());
    ASSERT_EQ(port.Ask(Select(1)), kAck + "01\r\n");
    line.SetFaults(1, c.faults);
    c.drive(port);
    const std::vector<Overlap> overlaps = line.Overlaps();
    ASSERT_EQ(line.OverlapCount(), c.marks.size()) << line.TraceText(true);
    ASSERT_EQ(overlaps.size(), c.marks.size());
    for (std::size_t i = 0; i < overlaps.size(); ++i) {
      const Overlap& o = overlaps[i];
      EXPECT_EQ(o.number, int(i) + 1);
      EXPECT_EQ(o.controller, 1);
      const std::string text = FormatOverlap(o);
      if (c.marks[i] == "sending") {
        // Somewhere in the middle of the 72 characters.
        EXPECT_EQ(o.kind, OverlapKind::kSending) << text;
        EXPECT_GE(o.sent, 3u) << text;
        EXPECT_LT(o.sent, o.size) << text;
        EXPECT_EQ(o.size, 72u);
      } else {
        EXPECT_NE(text.find(c.marks[i] + " bytes sent"), std::string::npos) << text;
      }
    }
  }
}

// The mark stands in the text form of the trace right before the request
// that began too early, and ClearTrace starts the count afresh.
TEST(SimOverlap, MarkPrecedesItsRequestInTheTraceText) {
  Line line(FastLine(LineMode::kRs232));
  line.AddController(7);
  TestPort port(line.LinkPath());
  port.Send("READ\r\nR\r\n");
  port.ReadUntil("YES\r\n", kAnswerTimeout);
  ASSERT_TRUE(line.WaitForTrace(4, kAnswerTimeout));
  EXPECT_EQ(line.TraceText(),
            ">> 52 45 41 44 0D 0A\n"
            "!! overlap 1: 07 pending, 0 of 18 bytes sent\n"
            ">> 52 0D 0A\n"
            "<< 53 54 2C 47 53 2C 2B 30 30 30 30 2E 30 30 6B 67 0D 0A\n"
            "<< 59 45 53 0D 0A\n");
  // The mark's time is its request's.
  EXPECT_EQ(line.Overlaps().at(0).at, line.Trace().at(1).at);
  EXPECT_NE(line.TraceText(true).find(" !! overlap 1: 07 pending, 0 of 18 bytes sent\n"),
            std::string::npos);

  line.ClearTrace();
  EXPECT_EQ(line.OverlapCount(), 0u);
  EXPECT_EQ(port.Ask("READ\r\n"), kReading);
  EXPECT_EQ(line.OverlapCount(), 0u);
  port.Send("READ\r\nREAD\r\n");
  port.ReadUntil(kReading + kReading, kAnswerTimeout);
  ASSERT_EQ(line.OverlapCount(), 1u);
  EXPECT_EQ(line.Overlaps()[0].number, 1);
}

// The program's trace file gets the marks through the listener, in order
// with the entries: the mark when the request's first byte arrives, the
// request when its LF does.
TEST(SimOverlap, ListenersSeeTheMarkBeforeItsRequest) {
  Line line(FastLine(LineMode::kRs232));
  line.AddController(1);
  std::mutex mutex;
  std::vector<std::string> seen;
  line.SetTraceListener([&](const TraceEntry& entry) {
    std::lock_guard lock(mutex);
    seen.push_back(FormatTraceEntry(entry));
  });
  line.SetOverlapListener([&](const Overlap& overlap) {
    std::lock_guard lock(mutex);
    seen.push_back(FormatOverlap(overlap));
  });
  TestPort port(line.LinkPath());
  port.Send("R\r\nR\r\n");
  port.ReadUntil("YES\r\nYES\r\n", kAnswerTimeout);
  // The listeners run on the line's thread, after the entries are finished.
  const auto deadline = Clock::now() + kAnswerTimeout;
  for (;;) {
    {
      std::lock_guard lock(mutex);
      if (seen.size() >= 5 || Clock::now() > deadline) break;
    }
    std::this_thread::sleep_for(milliseconds(5));
  }
  line.SetTraceListener(nullptr);
  line.SetOverlapListener(nullptr);
  std::lock_guard lock(mutex);
  EXPECT_EQ(seen,
            (std::vector<std::string>{">> 52 0D 0A", "!! overlap 1: 01 pending, 0 of 5 bytes sent",
                                      ">> 52 0D 0A", "<< 59 45 53 0D 0A", "<< 59 45 53 0D 0A"}));
}

}  // namespace
}  // namespace tk571::sim
