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
    destroy(value);
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
