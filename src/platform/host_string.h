// Strings handed to the host: fresh zero-terminated copies that the host
// releases; an empty text is a null pointer. On Linux they come from malloc()
// and the host calls free(). On Windows they come from the host's shared
// memory manager (the loaded module that exports SysGetMem and SysFreeMem)
// when there is one, else from the process heap (HeapFree).
#pragma once

#include <string>
#include <string_view>

namespace tk571::platform {

char* NewHostString(std::string_view text);
// Releases a string of NewHostString the way the host would; null is fine.
void FreeHostString(char* text);

// Reads a host string; null is the empty text.
inline std::string FromHostString(const char* text) {
  return text ? std::string(text) : std::string();
}

}  // namespace tk571::platform
