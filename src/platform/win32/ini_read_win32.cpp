#include <vector>

#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {

// Through the profile API, as the host's own tools read the file.
std::string ReadIniString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback) {
  if (!IsRegularFile(path)) return std::string(fallback);
  // The profile API looks for a name without a full path in the Windows
  // directory; the driver means the file the path names from here.
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return std::string(fallback);
  std::vector<char> value(kIniMaxValueBytes + 1, '\0');
  GetPrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                           std::string(fallback).c_str(), value.data(),
                           static_cast<DWORD>(value.size()), full);
  return value.data();
}

}  // namespace tk571::platform
