// The line thread of one driver object. From IniDriver on it is the only
// thread that reads or changes the object: it steps the run-state machine
// whenever bytes arrive, the machine's next deadline comes or the host posts
// work, carries out the host's posts between exchanges, and sleeps in
// between. Host calls meet it only in the object's mailbox
// (engine/host_mailbox.h), so no host call ever waits for the line, and no
// host call lands in the middle of a dialogue.
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
  // Carries out what the host posted; called only between exchanges.
  virtual void TakeHostWork() = 0;
  // The device whose bytes end a wait for an answer; null when there is none.
  virtual const platform::SerialPort* LinePort() const = 0;

 protected:
  ~LineDriven() = default;
};

class LineThread final : private platform::LinePause {
 public:
  explicit LineThread(LineDriven& driven);
  ~LineThread() override;
  LineThread(const LineThread&) = delete;
  LineThread& operator=(const LineThread&) = delete;

  // False when the system gave no thread.
  bool Start();
  // The host posted work: it is taken as soon as no exchange runs.
  void Wake();
  // Ends the line thread and joins it; a pause or wait in progress ends at
  // once.
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
  // Waits until `ms` have passed since the tick `since`; `host_work_ends`
  // lets posted work end the wait.
  platform::LineWake WaitOnLine(const platform::SerialPort* port, uint32_t since, uint32_t ms,
                                bool host_work_ends);
  void Pause(uint32_t ms) override;
  bool AwaitBytes(const platform::SerialPort& port, uint32_t ms) override;
  bool Closing() override;

  LineDriven& driven_;
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
