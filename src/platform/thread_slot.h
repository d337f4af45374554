// One pointer per thread, destroyed with the thread that set it.
#pragma once

namespace tk571::platform {

class ThreadSlot {
 public:
  using Destructor = void (*)(void*);
  // `destroy` runs on a thread's non-null value when that thread ends: on
  // POSIX on the ending thread, on Windows on a thread of its own, as the
  // ending thread holds the loader lock.
  explicit ThreadSlot(Destructor destroy);
  ~ThreadSlot();
  ThreadSlot(const ThreadSlot&) = delete;
  ThreadSlot& operator=(const ThreadSlot&) = delete;

  void* Get() const;
  void Set(void* value);

 private:
  unsigned key_;
  bool valid_;
};

// Acts on a cancellation the host requested for the calling thread: on POSIX
// the thread unwinds from here and its slot's destructor runs. Windows has
// no such request.
void AcceptThreadCancel();

}  // namespace tk571::platform
