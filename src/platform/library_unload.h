// The first thing the library does when it unloads, before any of its static
// objects is destroyed: the place to end threads that still run its code.
#pragma once

namespace tk571::platform {

// `hook` runs once at the start of the unload (Windows: DLL_PROCESS_DETACH,
// under the loader lock; POSIX: the library's destructor function, which in
// a program rather than a shared library runs after the static objects are
// gone). A later call replaces the hook.
void SetUnloadHook(void (*hook)());

}  // namespace tk571::platform
