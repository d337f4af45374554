#include <system_error>
#include <thread>

#include "platform/worker_thread.h"

namespace tk571::platform {

// A thread's end needs no lock the unloading thread holds: a join does.
struct WorkerThread::State {
  std::thread thread;
};

WorkerThread::WorkerThread() : state_(std::make_unique<State>()) {}

WorkerThread::~WorkerThread() {
  Join();
}

bool WorkerThread::Start(std::function<void()> run) {
  if (Running()) return false;
  try {
    state_->thread = std::thread(std::move(run));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool WorkerThread::Running() const {
  return state_->thread.joinable();
}

void WorkerThread::Join() {
  if (Running()) state_->thread.join();
}

void WorkerThread::EndAtUnload(const std::function<void()>& ask_to_end) {
  if (!Running()) return;
  ask_to_end();
  Join();
}

}  // namespace tk571::platform
