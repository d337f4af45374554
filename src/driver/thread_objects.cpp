#include "driver/thread_objects.h"

#include <atomic>

#include "platform/thread_slot.h"

namespace tk571 {

namespace {

// A host thread's driver object and its line thread. The line thread ends
// before the object (and with it the port) goes.
struct Hosted {
  std::unique_ptr<TDLLObject> object;
  std::unique_ptr<LineThread> line;
  ~Hosted() { line.reset(); }
};

void DestroyAtThreadEnd(void* hosted) {
  delete static_cast<Hosted*>(hosted);
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
    if (auto* hosted = static_cast<Hosted*>(slot.Get())) {
      hosted->line.reset();
      hosted->object->ReleaseAtUnload();
      delete hosted;
    }
    slot.Set(nullptr);
  }
};

LibraryState g_library;

std::atomic<ObjectMaker> g_object_maker{nullptr};
thread_local bool t_stepped_by_caller = false;

Hosted* ThreadHosted() {
  return g_state ? static_cast<Hosted*>(g_state->slot.Get()) : nullptr;
}

}  // namespace

TDLLObject* ThreadObject() {
  Hosted* hosted = ThreadHosted();
  return hosted ? hosted->object.get() : nullptr;
}

LineThread* ThreadLine() {
  Hosted* hosted = ThreadHosted();
  return hosted ? hosted->line.get() : nullptr;
}

void SetThreadObject(std::unique_ptr<TDLLObject> object) {
  if (!g_state) return;
  DestroyThreadObject();
  if (!object) return;
  auto hosted = std::make_unique<Hosted>();
  hosted->object = std::move(object);
  g_state->slot.Set(hosted.release());
}

void StartThreadLine() {
  Hosted* hosted = ThreadHosted();
  if (!hosted || hosted->line || t_stepped_by_caller) return;
  hosted->line = std::make_unique<LineThread>(*hosted->object);
  hosted->line->Start();
}

void StopThreadLine() {
  if (Hosted* hosted = ThreadHosted()) hosted->line.reset();
}

void DestroyThreadObject() {
  if (!g_state) return;
  std::unique_ptr<Hosted> old(ThreadHosted());
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

SteppedByCaller::SteppedByCaller() {
  t_stepped_by_caller = true;
}

SteppedByCaller::~SteppedByCaller() {
  t_stepped_by_caller = false;
}

HeldObject::HeldObject() : object_(ThreadObject()) {
  if (LineThread* line = ThreadLine()) hold_ = line->Hold();
}

}  // namespace tk571
