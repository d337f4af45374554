// Times as the journal, the topics and the reports write them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tk571::gateway {

// UTC, milliseconds since 1970.
int64_t NowMs();
// "2026-12-08T11:40:00.125Z"
std::string UtcText(int64_t ms);
// "2026-12-08", "2026-12-08T06:00" or "2026-12-08T06:00:30" in local time,
// or any of them ending in "Z" for UTC; nullopt for anything else.
std::optional<int64_t> ParseTime(const std::string& text);

}  // namespace tk571::gateway
