// Command line of the tk571-sim program.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tk571sim/sim_types.h"

namespace tk571::sim {

struct ProgramOptions {
  LineSettings line;
  std::vector<int> controllers{1};
  DosingRates rates;
  std::map<int, Faults> faults;
  std::map<int, Recipe> recipes;
  std::string trace_file;  // "-" is stderr
  std::string control;     // FIFO path, "-" for stdin, empty for none
  // Unplug the line after `first` of service, for `second`, again and again.
  std::optional<std::pair<std::chrono::milliseconds, std::chrono::milliseconds>> flap;
  bool verbose = false;
  bool help = false;
};

struct ParseResult {
  ProgramOptions options;
  std::string error;  // empty when the command line was good
};

// `args` without the program name.
ParseResult ParseOptions(const std::vector<std::string_view>& args);
std::string UsageText();

}  // namespace tk571::sim
