// Process-wide state of the library: the calling threads' driver objects
// and the start gate that serialises their start.
#pragma once

#include <memory>

#include "platform/auto_reset_event.h"
#include "protocol/dll_object.h"

namespace tk571 {

// The driver object of the calling thread, or null.
TDLLObject* ThreadObject();
// Installs an object for the calling thread; an earlier one is stopped and
// destroyed first, so its serial port is free and nothing leaks.
void SetThreadObject(std::unique_ptr<TDLLObject> object);
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

inline constexpr uint32_t kStartGateWaitMs = 5000;

}  // namespace tk571
