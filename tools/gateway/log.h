// The gateway's own log: one line per event on standard output, which the
// service manager's journal keeps. Every thread writes here.
#pragma once

#include <string_view>

namespace tk571::gateway {

// "2026-12-08 11:40:00.125  <text>"; lines of different threads never mix.
void Log(std::string_view text);

}  // namespace tk571::gateway
