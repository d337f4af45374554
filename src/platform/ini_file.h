// Reading profile (INI) files the way the host's own tools write them:
// "[Section]" lines, "Key=Value" lines, names compared without regard to
// ASCII case, blanks around names and values ignored, a value enclosed in one
// pair of matching quotes taken without them, ';' lines are comments. The
// first matching section and, in it, the first matching key win.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tk571::platform {

// Only this much of a profile file is read; a larger file is read as if it
// ended there.
inline constexpr std::size_t kIniMaxFileBytes = 1 << 20;
// Longer values are cut to this many bytes, as the host's profile reader does.
inline constexpr std::size_t kIniMaxValueBytes = 2047;

// The value from INI text held in memory.
std::string IniValueFromText(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view fallback);

// The value from a file; the fallback when the file, the section or the key
// is missing. On Windows the profile API reads it (GetPrivateProfileStringA).
std::string ReadIniString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback);

}  // namespace tk571::platform
