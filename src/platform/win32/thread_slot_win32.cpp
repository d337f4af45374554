#include "platform/win32/thread_slot_win32.h"

#include <array>
#include <atomic>

#include "platform/thread_slot.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {
namespace {

// The system's 64 fixed TLS indexes and its 1024 expansion slots.
constexpr std::size_t kTlsIndexes = TLS_MINIMUM_AVAILABLE + 1024;

// The destructor of each allocated TLS index, null for indexes that are not
// ours.
std::array<std::atomic<ThreadSlot::Destructor>, kTlsIndexes> g_destructors{};

// A value of an ending thread, destroyed on a thread of its own: the ending
// thread holds the loader lock, and a destructor may have to wait for
// another thread (an object's line thread). The disposing thread holds the
// library loaded until it is done.
struct Disposal {
  ThreadSlot::Destructor destroy;
  void* value;
  HMODULE library;
};

DWORD WINAPI Dispose(LPVOID param) {
  auto* disposal = static_cast<Disposal*>(param);
  disposal->destroy(disposal->value);
  const HMODULE library = disposal->library;
  delete disposal;
  FreeLibraryAndExitThread(library, 0);
}

void DestroyElsewhere(ThreadSlot::Destructor destroy, void* value) {
  HMODULE library = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&Dispose), &library))
    return;
  auto* disposal = new Disposal{destroy, value, library};
  const HANDLE thread = CreateThread(nullptr, 0, Dispose, disposal, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
    return;
  }
  // Without a thread the value stays: destroying it here could wait for
  // ever.
  delete disposal;
  FreeLibrary(library);
}

}  // namespace

namespace win32 {

void DestroyThreadValues() {
  for (std::size_t index = 0; index < kTlsIndexes; ++index) {
    const ThreadSlot::Destructor destroy = g_destructors[index].load(std::memory_order_acquire);
    if (!destroy) continue;
    const DWORD tls = static_cast<DWORD>(index);
    void* value = TlsGetValue(tls);
    if (!value) continue;
    TlsSetValue(tls, nullptr);
    DestroyElsewhere(destroy, value);
  }
}

}  // namespace win32

ThreadSlot::ThreadSlot(Destructor destroy) {
  const DWORD index = TlsAlloc();
  valid_ = index != TLS_OUT_OF_INDEXES && index < kTlsIndexes;
  key_ = static_cast<unsigned>(index);
  if (valid_) g_destructors[index].store(destroy, std::memory_order_release);
}

ThreadSlot::~ThreadSlot() {
  if (!valid_) return;
  g_destructors[key_].store(nullptr, std::memory_order_release);
  TlsFree(key_);
}

void* ThreadSlot::Get() const {
  return valid_ ? TlsGetValue(key_) : nullptr;
}

void ThreadSlot::Set(void* value) {
  if (valid_) TlsSetValue(key_, value);
}

void AcceptThreadCancel() {}

}  // namespace tk571::platform
