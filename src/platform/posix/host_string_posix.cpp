#include <cstdlib>
#include <cstring>

#include "platform/host_string.h"

namespace tk571::platform {

char* NewHostString(std::string_view text) {
  if (text.empty()) return nullptr;
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

void FreeHostString(char* text) {
  std::free(text);
}

}  // namespace tk571::platform
