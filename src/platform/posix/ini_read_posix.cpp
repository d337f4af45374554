#include "platform/files.h"
#include "platform/ini_file.h"

namespace tk571::platform {

std::string ReadIniString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback) {
  const std::optional<std::string> text = ReadFileHead(path, kIniMaxFileBytes);
  if (!text) return std::string(fallback);
  return IniValueFromText(*text, section, key, fallback);
}

}  // namespace tk571::platform
