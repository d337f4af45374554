// The commands that read the journal beside (or without) a running gateway:
//
//   tk571-gateway report --config FILE [--from T] [--to T] [--device D]
//                        [--format csv|json] [--totals shift|day|month]
//   tk571-gateway report --config FILE --batch N --plot FILE.svg
//   tk571-gateway verify --config FILE
#pragma once

#include <string>
#include <vector>

namespace tk571::gateway {

extern const char* const kJournalUsage;

// `args` starts with the command's name; answers the exit code.
int RunJournalCommand(const std::vector<std::string>& args);

}  // namespace tk571::gateway
