#include <cwchar>

#include "platform/host_version.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {
namespace {

constexpr UINT kGbkCodePage = 936;
// Chinese (PRC), code page 936: the table of the host's own resources.
constexpr wchar_t kDefaultTable[] = L"\\StringFileInfo\\080403A8\\";

std::wstring ToWide(std::string_view ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

std::string ToGbkBytes(const wchar_t* text, int length) {
  const int n = WideCharToMultiByte(kGbkCodePage, 0, text, length, nullptr, 0, "?", nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(kGbkCodePage, 0, text, length, out.data(), n, "?", nullptr);
  return out;
}

}  // namespace

HostVersionResource::HostVersionResource() : table_(kDefaultTable) {
  wchar_t program[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeW(program, &unused);
  if (size == 0) return;
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(program, 0, size, data.data())) return;
  data_ = std::move(data);
  struct Translation {
    WORD language;
    WORD code_page;
  };
  void* value = nullptr;
  UINT value_size = 0;
  if (VerQueryValueW(data_.data(), L"\\VarFileInfo\\Translation", &value, &value_size) &&
      value_size >= sizeof(Translation)) {
    const Translation first = *static_cast<const Translation*>(value);
    wchar_t table[40];
    std::swprintf(table, 40, L"\\StringFileInfo\\%04x%04x\\", first.language, first.code_page);
    table_ = table;
  }
}

std::optional<std::string> HostVersionResource::Value(std::string_view key) const {
  if (data_.empty()) return std::nullopt;
  const std::wstring path = table_ + ToWide(key);
  void* value = nullptr;
  UINT length = 0;
  // VerQueryValueW wants a writable block only in name.
  if (!VerQueryValueW(const_cast<unsigned char*>(data_.data()), path.c_str(), &value, &length)) {
    return std::nullopt;
  }
  const wchar_t* text = static_cast<const wchar_t*>(value);
  // The length counts the terminating zero when there is one.
  std::size_t chars = length;
  while (chars > 0 && text[chars - 1] == L'\0') --chars;
  return ToGbkBytes(text, static_cast<int>(chars));
}

}  // namespace tk571::platform
