#include <atomic>
#include <utility>

#include "platform/win32/dll_main_win32.h"
#include "platform/win32/windows_api.h"
#include "platform/worker_thread.h"

namespace tk571::platform {
namespace {

// How long an unloading library waits for a thread to park before it ends it
// wherever it is.
constexpr DWORD kParkLimitMs = 2000;

struct Worker {
  std::function<void()> run;
  HANDLE thread = nullptr;
  // Set once the function has returned while the library unloads.
  HANDLE parked = nullptr;
  std::atomic<bool> park{false};
};

DWORD WINAPI RunWorker(LPVOID param) {
  auto* worker = static_cast<Worker*>(param);
  worker->run();
  if (worker->park.load()) {
    // Returning would need the loader lock, which the unloading thread holds
    // while it waits here: stay until it ends this thread.
    SetEvent(worker->parked);
    for (;;) Sleep(INFINITE);
  }
  return 0;
}

void CloseHandles(Worker& worker) {
  CloseHandle(worker.thread);
  CloseHandle(worker.parked);
  worker.thread = nullptr;
  worker.parked = nullptr;
}

}  // namespace

struct WorkerThread::State {
  Worker worker;
};

WorkerThread::WorkerThread() : state_(std::make_unique<State>()) {}

WorkerThread::~WorkerThread() {
  Join();
}

bool WorkerThread::Start(std::function<void()> run) {
  Worker& worker = state_->worker;
  if (Running()) return false;
  worker.run = std::move(run);
  worker.park = false;
  worker.parked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!worker.parked) return false;
  worker.thread = CreateThread(nullptr, 0, RunWorker, &worker, 0, nullptr);
  if (worker.thread) return true;
  CloseHandles(worker);
  return false;
}

bool WorkerThread::Running() const {
  return state_->worker.thread != nullptr;
}

void WorkerThread::Join() {
  if (!Running()) return;
  WaitForSingleObject(state_->worker.thread, INFINITE);
  CloseHandles(state_->worker);
}

void WorkerThread::EndAtUnload(const std::function<void()>& ask_to_end) {
  if (!Running()) return;
  Worker& worker = state_->worker;
  worker.park = true;
  ask_to_end();
  // A process that ends has ended its other threads before it unloads.
  if (!win32::ProcessEnding()) {
    WaitForSingleObject(worker.parked, kParkLimitMs);
    TerminateThread(worker.thread, 0);
    WaitForSingleObject(worker.thread, INFINITE);
  }
  CloseHandles(worker);
}

}  // namespace tk571::platform
