// The line thread of one driver object. It owns the serial port while it
// runs: it steps the run-state machine whenever bytes arrive, a wait of the
// machine ends or the host hands over work, and sleeps in between. The host's
// calls take the driver object for the short time of their own work; the
// line thread gives it up in every wait and pause, so a host call never waits
// for the line.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "engine/run_state.h"
#include "platform/line_wait.h"
#include "platform/worker_thread.h"

namespace tk571 {

// What the line thread runs.
class LineDriven {
 public:
  virtual LineStepOutcome LineStep() = 0;
  // The device whose bytes end a wait for an answer; null when there is none.
  virtual const platform::SerialPort* LinePort() const = 0;

 protected:
  ~LineDriven() = default;
};

class LineThread final : private platform::LinePause {
 public:
  // Longest sleep of a machine that waits for nothing in particular: a command
  // falling due is served at most this late.
  static constexpr uint32_t kIdleStepMs = 10;

  explicit LineThread(LineDriven& driven);
  ~LineThread() override;
  LineThread(const LineThread&) = delete;
  LineThread& operator=(const LineThread&) = delete;

  // False when the system gave no thread.
  bool Start();
  // The driver object for a host call; held until the lock is released.
  std::unique_lock<std::mutex> Hold() { return std::unique_lock<std::mutex>(object_); }
  // The host handed over work (a write): the next step comes at once.
  void Wake();
  // Ends the line thread and joins it; a pause or wait in progress ends at
  // once. The caller must not hold the driver object.
  void Stop();
  // The same while the library unloads, where the thread cannot be joined.
  void StopAtUnload();
  // Returns once the line thread waits for a wake-up, for bytes that have not
  // come, or for time the clock has not yet given. For tests that move a test
  // clock.
  void RunUntilIdle();

 private:
  void Run();
  void AskToStop();
  // Waits without the driver object until `ms` have passed since the tick
  // `since`; `host_work_ends` lets handed-over work end the wait.
  platform::LineWake WaitReleased(const platform::SerialPort* port, uint32_t since, uint32_t ms,
                                  bool host_work_ends);
  void Pause(uint32_t ms) override;
  bool AwaitBytes(const platform::SerialPort& port, uint32_t ms) override;
  bool Closing() override;

  LineDriven& driven_;
  // Held by the line thread while it steps, by a host call while it works.
  std::mutex object_;
  // The line thread's own hold of object_, released in its waits.
  std::unique_lock<std::mutex>* held_ = nullptr;
  platform::LineWaiter waiter_;

  std::mutex state_mutex_;
  std::condition_variable state_changed_;
  bool stopping_ = false;
  bool host_work_ = false;
  // The wait in progress, as RunUntilIdle looks at it.
  bool waiting_ = false;
  bool wait_ends_on_host_work_ = false;
  const platform::SerialPort* wait_port_ = nullptr;
  uint32_t wait_start_ = 0;
  uint32_t wait_ms_ = 0;

  platform::WorkerThread thread_;
};

}  // namespace tk571
