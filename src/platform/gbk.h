// Every text the driver exchanges with the host or writes to its log is code
// page 936 (GBK). Sources are UTF-8, so fixed texts are converted once.
#pragma once

#include <string>
#include <string_view>

namespace tk571::platform {

// UTF-8 to GBK; characters GBK cannot hold become '?'.
std::string ToGbk(std::string_view utf8);
// GBK to UTF-8, for display and for tools; invalid bytes become U+FFFD.
std::string FromGbk(std::string_view gbk);

}  // namespace tk571::platform

// A fixed text in GBK, converted the first time its line runs.
#define TK571_GBK(utf8)                                                  \
  ([]() -> const std::string& {                                          \
    static const std::string converted = ::tk571::platform::ToGbk(utf8); \
    return converted;                                                    \
  }())
