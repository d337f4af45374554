#include <cstring>

#include "platform/host_string.h"
#include "platform/win32/windows_api.h"
// The tool help API needs the types of the one above.
#include <tlhelp32.h>

namespace tk571::platform {
namespace {

// The host runtime's shared memory manager uses that runtime's register
// convention: the first arguments in EAX, EDX, ECX, as GCC's regparm(3).
using SysGetMemFn = __attribute__((regparm(3))) void* (*)(int32_t size);
using SysFreeMemFn = __attribute__((regparm(3))) int32_t (*)(void* block);

struct HostMemoryManager {
  SysGetMemFn get_mem = nullptr;
  SysFreeMemFn free_mem = nullptr;
};

// The first module of the process that exports both functions. The host
// loads its memory manager before it loads any driver, and never unloads it.
HostMemoryManager FindHostMemoryManager() {
  HostMemoryManager found;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry)) {
    const FARPROC get_mem = GetProcAddress(entry.hModule, "SysGetMem");
    const FARPROC free_mem = GetProcAddress(entry.hModule, "SysFreeMem");
    if (get_mem && free_mem) {
      found.get_mem = reinterpret_cast<SysGetMemFn>(reinterpret_cast<void*>(get_mem));
      found.free_mem = reinterpret_cast<SysFreeMemFn>(reinterpret_cast<void*>(free_mem));
      break;
    }
  }
  CloseHandle(snapshot);
  return found;
}

const HostMemoryManager& MemoryManager() {
  static const HostMemoryManager manager = FindHostMemoryManager();
  return manager;
}

}  // namespace

char* NewHostString(std::string_view text) {
  if (text.empty()) return nullptr;
  const HostMemoryManager& manager = MemoryManager();
  const std::size_t size = text.size() + 1;
  void* block = manager.get_mem ? manager.get_mem(static_cast<int32_t>(size))
                                : HeapAlloc(GetProcessHeap(), 0, size);
  if (!block) return nullptr;
  char* copy = static_cast<char*>(block);
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

void FreeHostString(char* text) {
  if (!text) return;
  const HostMemoryManager& manager = MemoryManager();
  if (manager.free_mem) {
    manager.free_mem(text);
  } else {
    HeapFree(GetProcessHeap(), 0, text);
  }
}

}  // namespace tk571::platform
