// A thread of the library's own that runs one function. It ends by a join,
// or, while the library unloads, by EndAtUnload: on Windows the unloading
// thread holds the loader lock and a thread needs that lock to end, so there
// the thread parks once its function has returned and is then ended by
// force, with nothing of its own held.
#pragma once

#include <functional>
#include <memory>

namespace tk571::platform {

class WorkerThread {
 public:
  WorkerThread();
  // Joins a thread that still runs.
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // False when the system refused the thread.
  bool Start(std::function<void()> run);
  // Started and not yet ended.
  bool Running() const;
  // The caller has made the function return; waits for the thread to end.
  void Join();
  // The same while the library unloads: `ask_to_end` makes the function
  // return. The thread is gone when this returns, or, while the process
  // itself ends, already was.
  void EndAtUnload(const std::function<void()>& ask_to_end);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tk571::platform
