// Entry point of the driver DLL. Values of thread slots of threads that end
// go with them (DLL_THREAD_DETACH). At DLL_PROCESS_DETACH the unload hook
// runs first; the library's static objects go after this function returns,
// when the runtime destroys them. The loader lock is held throughout.
#include "platform/win32/dll_main_win32.h"

#include <atomic>

#include "platform/library_unload.h"
#include "platform/win32/thread_slot_win32.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform::win32 {
namespace {

std::atomic<bool> g_process_ending{false};
std::atomic<void (*)()> g_unload_hook{nullptr};

void RunUnloadHook() {
  if (void (*hook)() = g_unload_hook.exchange(nullptr)) hook();
}

}  // namespace

bool ProcessEnding() {
  return g_process_ending.load();
}

}  // namespace tk571::platform::win32

namespace tk571::platform {

void SetUnloadHook(void (*hook)()) {
  win32::g_unload_hook.store(hook);
}

}  // namespace tk571::platform

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_THREAD_DETACH) tk571::platform::win32::DestroyThreadValues();
  if (reason != DLL_PROCESS_DETACH) return TRUE;
  if (reserved) tk571::platform::win32::g_process_ending.store(true);
  tk571::platform::win32::RunUnloadHook();
  return TRUE;
}
