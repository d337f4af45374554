// Process-wide state of the library: the calling threads' driver objects,
// each with its line thread, and the start gate that serialises their start.
#pragma once

#include <memory>

#include "platform/auto_reset_event.h"
#include "protocol/dll_object.h"
#include "protocol/line_thread.h"

namespace tk571 {

// The driver object of the calling thread, or null.
TDLLObject* ThreadObject();
// The line thread of the calling thread's object, or null when its start
// failed or the object was stopped. While it runs it is the object's only
// owner: the host's calls reach the object through its mailbox alone.
LineThread* ThreadLine();
// Installs an object for the calling thread; an earlier one is stopped and
// destroyed first, so its serial port is free and nothing leaks.
void SetThreadObject(std::unique_ptr<TDLLObject> object);
// Starts the line thread of the calling thread's object; false when the
// system gave no thread. A start stepped by its caller needs none.
bool StartThreadLine();
// Ends the line thread of the calling thread's object and joins it; the
// object keeps its port until it is stopped.
void StopThreadLine();
// Destroys the calling thread's object, if any.
void DestroyThreadObject();
// Makes the object IniDriver installs: the controller object over the serial
// port, unless a harness that drives the entry points over a line of its own
// (the whole-driver fuzz target) installed a maker. Null restores the plain
// object.
using ObjectMaker = std::unique_ptr<TDLLObject> (*)();
void SetObjectMaker(ObjectMaker maker);
std::unique_ptr<TDLLObject> MakeDriverObject();
// The start gate; null once the library is unloading.
platform::AutoResetEvent* StartGate();

// While one lives, a start on the calling thread gives the object no line
// thread: the caller steps the object itself, as the device test does.
class SteppedByCaller {
 public:
  SteppedByCaller();
  ~SteppedByCaller();
  SteppedByCaller(const SteppedByCaller&) = delete;
  SteppedByCaller& operator=(const SteppedByCaller&) = delete;
};

inline constexpr uint32_t kStartGateWaitMs = 5000;

}  // namespace tk571
