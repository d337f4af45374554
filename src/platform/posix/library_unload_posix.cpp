// A shared library's destructor functions run before the destructors of its
// static objects, which the C++ runtime runs last of all from its own entry of
// the library's termination array. (In a program the order is the other way
// round; a hook must allow for that.)
#include <atomic>

#include "platform/library_unload.h"

namespace tk571::platform {
namespace {

std::atomic<void (*)()> g_hook{nullptr};

__attribute__((destructor)) void RunUnloadHook() {
  if (void (*hook)() = g_hook.exchange(nullptr)) hook();
}

}  // namespace

void SetUnloadHook(void (*hook)()) {
  g_hook.store(hook);
}

}  // namespace tk571::platform
