#include "driver/thread_objects.h"

#include <atomic>
#include <mutex>
#include <set>

#include "platform/library_unload.h"
#include "platform/thread_slot.h"

namespace tk571 {

namespace {

struct LibraryState;
LibraryState* g_state = nullptr;

// Every line thread that runs. A line thread must end before the library's
// code goes, whichever thread owns its object.
class LiveLines {
 public:
  void Add(LineThread* line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.insert(line);
  }
  void Remove(LineThread* line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.erase(line);
  }
  void StopAtUnload() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (LineThread* line : lines_) line->StopAtUnload();
    lines_.clear();
  }

 private:
  std::mutex mutex_;
  std::set<LineThread*> lines_;
};

// A host thread's driver object and its line thread. The line thread ends
// before the object (and with it the port) goes.
struct Hosted {
  std::unique_ptr<TDLLObject> object;
  std::unique_ptr<LineThread> line;
  ~Hosted() { EndLine(); }
  void EndLine();
};

void DestroyAtThreadEnd(void* hosted) {
  delete static_cast<Hosted*>(hosted);
}

void StopLinesAtUnload();

// Lives exactly as long as the library is loaded. Threads that are still
// running when it unloads keep their objects, but not their line threads:
// only the unloading thread's object can be destroyed safely.
struct LibraryState {
  platform::ThreadSlot slot{&DestroyAtThreadEnd};
  platform::AutoResetEvent gate{true};
  LiveLines lines;
  LibraryState() {
    g_state = this;
    platform::SetUnloadHook(&StopLinesAtUnload);
  }
  ~LibraryState() {
    lines.StopAtUnload();
    g_state = nullptr;
    if (auto* hosted = static_cast<Hosted*>(slot.Get())) {
      hosted->object->ReleaseAtUnload();
      delete hosted;
    }
    slot.Set(nullptr);
  }
};

// The line threads run the library's code on the library's static objects:
// they end before the first of these goes.
void StopLinesAtUnload() {
  if (g_state) g_state->lines.StopAtUnload();
}

void Hosted::EndLine() {
  if (!line) return;
  if (g_state) g_state->lines.Remove(line.get());
  line.reset();
}

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

bool StartThreadLine() {
  Hosted* hosted = ThreadHosted();
  if (!hosted) return false;
  if (hosted->line || t_stepped_by_caller) return true;
  hosted->line = std::make_unique<LineThread>(*hosted->object);
  if (!hosted->line->Start()) {
    hosted->line.reset();
    return false;
  }
  g_state->lines.Add(hosted->line.get());
  return true;
}

void StopThreadLine() {
  if (Hosted* hosted = ThreadHosted()) hosted->EndLine();
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

}  // namespace tk571
