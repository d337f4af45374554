#include <errno.h>
#include <iconv.h>

#include "platform/gbk.h"

namespace tk571::platform {
namespace {

// Converts with iconv, replacing what cannot be converted one input byte at
// a time, so that a bad byte never loses the rest of the text.
std::string Convert(const char* to, const char* from, std::string_view in,
                    std::string_view replacement) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  out.reserve(in.size() * 2);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char buffer[256];
  while (src_left > 0) {
    char* dst = buffer;
    size_t dst_left = sizeof(buffer);
    const size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(buffer, sizeof(buffer) - dst_left);
    if (rc == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a truncated sequence at the end): skip one byte.
      out.append(replacement);
      ++src;
      --src_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string ToGbk(std::string_view utf8) {
  return Convert("GBK", "UTF-8", utf8, "?");
}

std::string FromGbk(std::string_view gbk) {
  return Convert("UTF-8", "GBK", gbk, "\xEF\xBF\xBD");
}

}  // namespace tk571::platform
