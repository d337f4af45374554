#include "driver/thread_objects.h"

#include <atomic>

#include "platform/thread_slot.h"

namespace tk571 {

namespace {

void DestroyAtThreadEnd(void* object) {
  delete static_cast<TDLLObject*>(object);
}

// Lives exactly as long as the library is loaded. Threads that are still
// running when it unloads keep their objects: only the unloading thread's
// object can be destroyed safely.
struct LibraryState;
LibraryState* g_state = nullptr;

struct LibraryState {
  platform::ThreadSlot slot{&DestroyAtThreadEnd};
  platform::AutoResetEvent gate{true};
  LibraryState() { g_state = this; }
  ~LibraryState() {
    g_state = nullptr;
    if (auto* object = static_cast<TDLLObject*>(slot.Get())) {
      object->ReleaseAtUnload();
      delete object;
    }
    slot.Set(nullptr);
  }
};

LibraryState g_library;

std::atomic<ObjectMaker> g_object_maker{nullptr};

}  // namespace

TDLLObject* ThreadObject() {
  return g_state ? static_cast<TDLLObject*>(g_state->slot.Get()) : nullptr;
}

void SetThreadObject(std::unique_ptr<TDLLObject> object) {
  if (!g_state) return;
  DestroyThreadObject();
  g_state->slot.Set(object.release());
}

void DestroyThreadObject() {
  if (!g_state) return;
  std::unique_ptr<TDLLObject> old(static_cast<TDLLObject*>(g_state->slot.Get()));
  g_state->slot.Set(nullptr);
}

void SetObjectMaker(ObjectMaker maker) {
  g_object_maker = maker;
}

std::unique_ptr<TDLLObject> MakeDriverObject() {
  const ObjectMaker maker = g_object_maker;
  return maker ? maker() : std::make_unique<TDLLObject>(true);
}

platform::AutoResetEvent* StartGate() {
  return g_state ? &g_state->gate : nullptr;
}

}  // namespace tk571
