#include "protocol/line_thread.h"

#include <chrono>
#include <utility>

#include "platform/clock.h"

namespace tk571 {

LineThread::LineThread(LineDriven& driven) : driven_(driven) {}

LineThread::~LineThread() {
  Stop();
}

bool LineThread::Start() {
  return thread_.Running() || thread_.Start([this] { Run(); });
}

void LineThread::Wake() {
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    host_work_ = true;
  }
  waiter_.Wake();
}

void LineThread::AskToStop() {
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    stopping_ = true;
  }
  waiter_.Wake();
}

void LineThread::Stop() {
  if (!thread_.Running()) return;
  AskToStop();
  thread_.Join();
}

void LineThread::StopAtUnload() {
  thread_.EndAtUnload([this] { AskToStop(); });
}

bool LineThread::Closing() {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return stopping_;
}

void LineThread::Run() {
  platform::SetThreadLinePause(this);
  // The host's posts are taken only between exchanges: never between a
  // request and its answer, and never inside a dialogue, which runs within
  // one step.
  bool between_exchanges = true;
  for (;;) {
    bool take = false;
    {
      std::lock_guard<std::mutex> lock(state_mutex_);
      if (stopping_) break;
      // Work posted while an answer was awaited stays noted until it is
      // taken, so the first wait after the exchange ends at once.
      take = between_exchanges && std::exchange(host_work_, false);
    }
    if (take) driven_.TakeHostWork();
    const LineStepOutcome step = driven_.LineStep();
    between_exchanges = !step.awaiting;
    if (step.moved) continue;
    WaitOnLine(step.awaiting ? driven_.LinePort() : nullptr, platform::Tick(), step.wait_ms,
               /*host_work_ends=*/between_exchanges);
  }
  platform::SetThreadLinePause(nullptr);
}

platform::LineWake LineThread::WaitOnLine(const platform::SerialPort* port, uint32_t since,
                                          uint32_t ms, bool host_work_ends) {
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    if (stopping_ || (host_work_ends && host_work_)) return platform::LineWake::kWoken;
    waiting_ = true;
    wait_ends_on_host_work_ = host_work_ends;
    wait_port_ = port;
    wait_start_ = since;
    wait_ms_ = ms;
  }
  state_changed_.notify_all();
  const platform::LineWake woke = platform::GetClock().WaitLine(waiter_, port, since, ms);
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    waiting_ = false;
  }
  return woke;
}

void LineThread::Pause(uint32_t ms) {
  // The controller's own time: posted work waits for its end, a stop does
  // not.
  const uint32_t start = platform::Tick();
  while (platform::TicksSince(start) < ms && !Closing())
    WaitOnLine(nullptr, start, ms, /*host_work_ends=*/false);
}

bool LineThread::AwaitBytes(const platform::SerialPort& port, uint32_t ms) {
  const uint32_t start = platform::Tick();
  while (platform::TicksSince(start) < ms && !Closing())
    if (WaitOnLine(&port, start, ms, /*host_work_ends=*/false) == platform::LineWake::kReadable)
      return true;
  return false;
}

void LineThread::RunUntilIdle() {
  std::unique_lock<std::mutex> lock(state_mutex_);
  for (;;) {
    if (!thread_.Running() || stopping_) return;
    const bool time_left =
        wait_ms_ == platform::kWaitForever || platform::TicksSince(wait_start_) < wait_ms_;
    if (waiting_ && time_left && !(host_work_ && wait_ends_on_host_work_) &&
        !platform::LineWaiter::HasBytes(wait_port_))
      return;
    // The test's clock moves without telling the line thread: look again soon.
    state_changed_.wait_for(lock, std::chrono::milliseconds(1));
  }
}

}  // namespace tk571
