#include <string>

#include "platform/gbk.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {
namespace {

constexpr UINT kGbkCodePage = 936;

std::wstring ToWide(UINT code_page, std::string_view in) {
  if (in.empty()) return std::wstring();
  const int size = static_cast<int>(in.size());
  const int n = MultiByteToWideChar(code_page, 0, in.data(), size, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, in.data(), size, out.data(), n);
  return out;
}

std::string FromWide(UINT code_page, const std::wstring& in, const char* fallback) {
  if (in.empty()) return std::string();
  const int size = static_cast<int>(in.size());
  // UTF-8 takes no default character; code page 936 uses it for what it
  // cannot hold.
  const char* default_char = code_page == CP_UTF8 ? nullptr : fallback;
  const int n =
      WideCharToMultiByte(code_page, 0, in.data(), size, nullptr, 0, default_char, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, in.data(), size, out.data(), n, default_char, nullptr);
  return out;
}

}  // namespace

// What code page 936 cannot hold becomes '?'.
std::string ToGbk(std::string_view utf8) {
  return FromWide(kGbkCodePage, ToWide(CP_UTF8, utf8), "?");
}

std::string FromGbk(std::string_view gbk) {
  return FromWide(CP_UTF8, ToWide(kGbkCodePage, gbk), nullptr);
}

}  // namespace tk571::platform
