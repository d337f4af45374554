// Entry point of the driver DLL. Objects of threads that end go with them
// (DLL_THREAD_DETACH); the unloading thread's object goes with the library's
// static objects, which the runtime destroys after this function returns from
// DLL_PROCESS_DETACH. Nothing here waits for another thread: the loader lock
// is held.
#include "platform/win32/thread_slot_win32.h"
#include "platform/win32/windows_api.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_THREAD_DETACH) tk571::platform::win32::DestroyThreadValues();
  return TRUE;
}
