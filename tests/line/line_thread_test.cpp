// The line thread on the test clock: when it steps, when it sleeps, what ends
// a sleep, when it takes the host's work, and that its pauses end on a stop.
#include "protocol/line_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "comm/pty_peer.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "support/fake_clock.h"

namespace tk571 {
namespace {

using testing::FakeClock;

// A machine that moves a given number of times and then waits until its next
// deadline; its next step may pause or wait for bytes, as the dialogues do,
// or leave an answer awaited. The test reads it while the line thread waits.
struct Machine final : LineDriven {
  std::atomic<int> steps = 0;
  std::atomic<int> moves_left = 0;
  std::atomic<uint32_t> pause_ms = 0;
  std::atomic<int> pauses_ended = 0;
  std::atomic<const platform::SerialPort*> await_port = nullptr;
  std::atomic<int> bytes_seen = 0;
  std::atomic<uint32_t> next_deadline_ms = platform::kWaitForever;
  std::atomic<bool> awaiting = false;
  // The number of steps taken when the host's work was last taken.
  std::atomic<int> taken_at_step = -1;

  void TakeHostWork() override { taken_at_step = steps.load(); }
  LineStepOutcome LineStep() override {
    ++steps;
    if (pause_ms) {
      const uint32_t ms = pause_ms;
      pause_ms = 0;
      platform::SleepMs(ms);
      ++pauses_ended;
    }
    if (await_port) {
      const platform::SerialPort* port = await_port;
      await_port = nullptr;
      if (platform::AwaitBytes(*port, 200)) ++bytes_seen;
    }
    if (moves_left > 0) {
      --moves_left;
      return {true, false, 0};
    }
    return {false, awaiting, next_deadline_ms};
  }
  const platform::SerialPort* LinePort() const override { return nullptr; }
};

struct Seen {
  int steps;
  int pauses_ended;
  int bytes_seen;
};

Seen Look(LineThread& line, const Machine& machine) {
  line.RunUntilIdle();
  return {machine.steps, machine.pauses_ended, machine.bytes_seen};
}

TEST(LineThreadTest, StepsWhileTheMachineMovesThenSleepsUntilItsDeadline) {
  FakeClock clock;
  Machine machine;
  machine.moves_left = 3;
  machine.next_deadline_ms = 25;
  LineThread line(machine);
  line.Start();
  line.RunUntilIdle();
  EXPECT_EQ(Look(line, machine).steps, 4) << "three moves and the step that found nothing to do";

  struct Case {
    uint32_t advance;
    int steps_after;
  };
  const Case cases[] = {{24, 4}, {1, 5}, {25, 6}, {75, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.advance);
    clock.Advance(c.advance);
    line.RunUntilIdle();
    EXPECT_EQ(Look(line, machine).steps, c.steps_after);
  }
}

TEST(LineThreadTest, AMachineWithoutADeadlineSleepsUntilWoken) {
  FakeClock clock;
  Machine machine;
  LineThread line(machine);
  line.Start();
  line.RunUntilIdle();
  clock.Advance(3600 * 1000);
  EXPECT_EQ(Look(line, machine).steps, 1) << "no fixed wake-ups";
  line.Wake();
  EXPECT_EQ(Look(line, machine).steps, 2);
}

TEST(LineThreadTest, PostedWorkWaitsForTheAnswerBeingAwaited) {
  FakeClock clock;
  Machine machine;
  machine.awaiting = true;
  machine.next_deadline_ms = 200;
  LineThread line(machine);
  line.Start();
  line.RunUntilIdle();
  line.Wake();
  line.RunUntilIdle();
  EXPECT_EQ(machine.taken_at_step, -1) << "not while the answer is awaited";
  machine.awaiting = false;
  clock.Advance(200);
  line.RunUntilIdle();
  EXPECT_EQ(machine.taken_at_step, machine.steps - 1) << "after the exchange ended";
}

TEST(LineThreadTest, HandedOverWorkIsTakenAtOnce) {
  FakeClock clock;
  Machine machine;
  LineThread line(machine);
  line.Start();
  line.RunUntilIdle();
  const uint32_t tick = clock.TickMs();
  for (int wake = 1; wake <= 3; ++wake) {
    line.Wake();
    line.RunUntilIdle();
    EXPECT_EQ(Look(line, machine).steps, 1 + wake);
  }
  EXPECT_EQ(clock.TickMs(), tick);
}

TEST(LineThreadTest, APauseKeepsItsTime) {
  FakeClock clock;
  Machine machine;
  machine.pause_ms = 80;
  LineThread line(machine);
  line.Start();
  line.RunUntilIdle();
  EXPECT_EQ(Look(line, machine).pauses_ended, 0);
  // Work handed over during the pause waits for its end.
  line.Wake();
  line.RunUntilIdle();
  clock.Advance(79);
  line.RunUntilIdle();
  EXPECT_EQ(Look(line, machine).pauses_ended, 0);
  EXPECT_EQ(Look(line, machine).steps, 1);
  clock.Advance(1);
  line.RunUntilIdle();
  EXPECT_EQ(Look(line, machine).pauses_ended, 1);
  EXPECT_EQ(Look(line, machine).steps, 2) << "the handed-over work right after the pause";
}

TEST(LineThreadTest, StopEndsAPauseWithoutItsTime) {
  FakeClock clock;
  Machine machine;
  machine.pause_ms = 60000;
  LineThread line(machine);
  line.Start();
  line.RunUntilIdle();
  const uint32_t tick = clock.TickMs();
  line.Stop();
  EXPECT_EQ(machine.pauses_ended, 1);
  EXPECT_EQ(machine.steps, 1);
  EXPECT_EQ(clock.TickMs(), tick);
}

TEST(LineThreadTest, AWaitForAnAnswerEndsWhenBytesArrive) {
  FakeClock clock;
  test::PtyPeer peer;
  platform::SerialPort port;
  ASSERT_EQ(port.Open(peer.SlavePath()).result, platform::SerialOpenResult::kOpened);
  Machine machine;
  machine.await_port = &port;
  LineThread line(machine);
  line.Start();
  line.RunUntilIdle();
  EXPECT_EQ(Look(line, machine).bytes_seen, 0);
  peer.Write(
      "\x06"
      "01\r\n");
  line.RunUntilIdle();
  EXPECT_EQ(Look(line, machine).bytes_seen, 1);
  EXPECT_EQ(Look(line, machine).steps, 1) << "within the step that waited";
}

TEST(LineWaiterTest, WhatEndsAWait) {
  test::PtyPeer peer;
  platform::SerialPort port;
  ASSERT_EQ(port.Open(peer.SlavePath()).result, platform::SerialOpenResult::kOpened);
  platform::SerialPort closed;
  struct Case {
    const char* what;
    bool wake;
    std::string bytes;
    const platform::SerialPort* watched;
    platform::LineWake expected;
  };
  const Case cases[] = {
      {"nothing", false, "", &port, platform::LineWake::kTimedOut},
      {"a wake given before the wait", true, "", &port, platform::LineWake::kWoken},
      {"bytes on the port", false, "YES\r\n", &port, platform::LineWake::kReadable},
      {"bytes on a port not watched", false, "", nullptr, platform::LineWake::kTimedOut},
      {"a closed port", false, "", &closed, platform::LineWake::kTimedOut},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::LineWaiter waiter;
    if (c.wake) waiter.Wake();
    if (!c.bytes.empty()) peer.Write(c.bytes);
    // Bytes already in the pseudo-terminal end the wait at once, so a long
    // time is spent only by the cases that expect it to pass.
    const uint32_t timeout = c.expected == platform::LineWake::kTimedOut ? 0 : 60000;
    EXPECT_EQ(waiter.Wait(c.watched, timeout), c.expected);
    uint8_t drain[64];
    std::size_t got = 0;
    port.Read(drain, sizeof drain, got);
  }
}

TEST(LineWaiterTest, AWakeEndsAWaitWithoutTimeFromAnotherThread) {
  platform::LineWaiter waiter;
  std::thread waker([&] { waiter.Wake(); });
  EXPECT_EQ(waiter.Wait(nullptr, platform::kWaitForever), platform::LineWake::kWoken);
  waker.join();
}

}  // namespace
}  // namespace tk571
