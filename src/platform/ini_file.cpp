#include "platform/ini_file.h"

#include <optional>

namespace tk571::platform {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string CleanValue(std::string_view value) {
  value = Trim(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  // A value ends at a zero byte, as it would in any C string interface.
  const std::size_t nul = value.find('\0');
  if (nul != std::string_view::npos) value = value.substr(0, nul);
  if (value.size() > kIniMaxValueBytes) value = value.substr(0, kIniMaxValueBytes);
  return std::string(value);
}

std::optional<std::string> FindValue(std::string_view text, std::string_view section,
                                     std::string_view key) {
  // A UTF-8 byte order mark written by an editor would otherwise hide the
  // first section.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  bool in_section = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      if (in_section) return std::nullopt;
      in_section = SameName(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (!in_section) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (SameName(Trim(line.substr(0, eq)), key)) return CleanValue(line.substr(eq + 1));
  }
  return std::nullopt;
}

}  // namespace

std::string IniValueFromText(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view fallback) {
  if (auto value = FindValue(text, section, key)) return *value;
  return std::string(fallback);
}

}  // namespace tk571::platform
