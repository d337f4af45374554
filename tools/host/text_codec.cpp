#include "text_codec.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace tk571::host {
namespace {

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (Valid()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // With `lossy`, each byte that starts an invalid or cut-off sequence
  // becomes '?'; without it such input gives nullopt.
  std::optional<std::string> Convert(std::string_view input, bool lossy) {
    if (!Valid()) return std::nullopt;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    std::vector<char> buffer(4 * input.size() + 16);
    char* in_ptr = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    while (in_left > 0) {
      char* out_ptr = buffer.data();
      std::size_t out_left = buffer.size();
      const std::size_t done = iconv(cd_, &in_ptr, &in_left, &out_ptr, &out_left);
      out.append(buffer.data(), static_cast<std::size_t>(out_ptr - buffer.data()));
      if (done != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) continue;
      if (!lossy) return std::nullopt;
      out.push_back('?');
      ++in_ptr;
      --in_left;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

 private:
  iconv_t cd_;
};

Converter& FromGbk() {
  thread_local Converter converter("UTF-8", "GBK");
  return converter;
}

Converter& ToGbk() {
  thread_local Converter converter("GBK", "UTF-8");
  return converter;
}

bool IsWide(uint32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// Decodes the UTF-8 character at `at`; returns its length in bytes (1 for a
// stray byte, which then counts as one column).
std::size_t NextCharacter(std::string_view text, std::size_t at, uint32_t* code) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  std::size_t length = 1;
  uint32_t value = lead;
  if (lead >= 0xF0) {
    length = 4;
    value = lead & 0x07;
  } else if (lead >= 0xE0) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xC0) {
    length = 2;
    value = lead & 0x1F;
  }
  if (at + length > text.size()) length = 1;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      *code = lead;
      return 1;
    }
    value = (value << 6) | (byte(at + i) & 0x3F);
  }
  *code = length == 1 ? lead : value;
  return length;
}

int CharacterWidth(uint32_t code) {
  if (code < 0x20 || code == 0x7F) return 0;
  return IsWide(code) ? 2 : 1;
}

}  // namespace

std::optional<std::string> GbkToUtf8(std::string_view gbk) {
  return FromGbk().Convert(gbk, false);
}

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
  return ToGbk().Convert(utf8, false);
}

std::string DisplayText(std::string_view gbk) {
  std::optional<std::string> text = FromGbk().Convert(gbk, true);
  return text ? *text : std::string(gbk.size(), '?');
}

int DisplayWidth(std::string_view utf8) {
  int width = 0;
  for (std::size_t at = 0; at < utf8.size();) {
    uint32_t code = 0;
    at += NextCharacter(utf8, at, &code);
    width += CharacterWidth(code);
  }
  return width;
}

std::string FitToWidth(std::string_view utf8, int width) {
  const int full = DisplayWidth(utf8);
  if (full <= width)
    return std::string(utf8) + std::string(static_cast<std::size_t>(width - full), ' ');
  if (width <= 0) return std::string();
  std::string out;
  int used = 0;
  for (std::size_t at = 0; at < utf8.size();) {
    uint32_t code = 0;
    const std::size_t length = NextCharacter(utf8, at, &code);
    const int w = CharacterWidth(code);
    if (used + w > width - 1) break;
    out.append(utf8.substr(at, length));
    used += w;
    at += length;
  }
  out += "\xE2\x80\xA6";  // …
  ++used;
  return out + std::string(static_cast<std::size_t>(width - used), ' ');
}

}  // namespace tk571::host
