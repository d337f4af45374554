// The gateway's own log: one line per event on standard output, which the
// service manager's journal keeps. Every thread writes here.
#pragma once

#include <string>
#include <string_view>

namespace tk571::gateway {

enum class LogFormat {
  kText,  // "2026-12-08 11:40:00.125  <text>", local time
  kJson,  // {"time":"2026-12-08T10:40:00.125Z","message":"<text>"}, for log collectors
};

// Before the first line; the text format is the default.
void SetLogFormat(LogFormat format);

// One line; lines of different threads never mix.
void Log(std::string_view text);

// Text from outside (a payload, a topic) as a log line may show it: quoted,
// cut short, with control characters and bytes outside ASCII escaped, so
// that it can neither forge lines nor flood the journal.
std::string Printable(std::string_view text);

}  // namespace tk571::gateway
