// Strings handed to the host: fresh zero-terminated copies that the host
// releases with free(); an empty text is a null pointer.
#pragma once

#include <string>
#include <string_view>

namespace tk571::platform {

char* NewHostString(std::string_view text);

// Reads a host string; null is the empty text.
inline std::string FromHostString(const char* text) {
  return text ? std::string(text) : std::string();
}

}  // namespace tk571::platform
