#include <pthread.h>

#include "platform/thread_slot.h"

namespace tk571::platform {

ThreadSlot::ThreadSlot(Destructor destroy) {
  pthread_key_t key{};
  valid_ = pthread_key_create(&key, destroy) == 0;
  key_ = static_cast<unsigned>(key);
}

ThreadSlot::~ThreadSlot() {
  if (valid_) pthread_key_delete(static_cast<pthread_key_t>(key_));
}

void* ThreadSlot::Get() const {
  return valid_ ? pthread_getspecific(static_cast<pthread_key_t>(key_)) : nullptr;
}

void ThreadSlot::Set(void* value) {
  if (valid_) pthread_setspecific(static_cast<pthread_key_t>(key_), value);
}

void AcceptThreadCancel() {
  pthread_testcancel();
}

}  // namespace tk571::platform
