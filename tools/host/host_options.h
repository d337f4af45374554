// Command line of tk571-host.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host_command.h"
#include "parameter_block.h"

namespace tk571::host {

enum class TableMode { kAuto, kOn, kOff };

struct HostOptions {
  std::string library;   // empty: the default search
  std::string pdb_file;  // load the block from here instead of FullPDB
  std::string save_pdb_file;
  BlockOptions block;
  std::string tags_file;    // given: run the driver
  std::string script_file;  // timed commands while running
  std::optional<std::chrono::milliseconds> duration;
  bool keep_running = false;
  TableMode table = TableMode::kAuto;
  bool read_stdin = true;
  std::vector<Command> commands;
  bool help = false;
};

struct HostOptionsResult {
  HostOptions options;
  std::string error;  // empty when the command line was good
};

// `args` without the program name.
HostOptionsResult ParseHostOptions(const std::vector<std::string_view>& args);
std::string HostUsage();

}  // namespace tk571::host
