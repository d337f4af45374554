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
// How reported values are printed: lines for people, or one JSON object or
// CSV row per value with ISO 8601 time stamps.
enum class OutputFormat { kText, kJson, kCsv };

struct HostOptions {
  std::string library;   // empty: the default search
  std::string pdb_file;  // load the block from here instead of FullPDB
  std::string save_pdb_file;
  BlockOptions block;
  std::string device;       // the device behind the block's port, instead of TK571_COMN
  std::string tags_file;    // given: run the driver
  std::string script_file;  // timed commands while running
  std::optional<std::chrono::milliseconds> duration;
  bool keep_running = false;
  TableMode table = TableMode::kAuto;
  bool read_stdin = true;
  bool once = false;  // poll every tag once, print and end
  OutputFormat format = OutputFormat::kText;
  std::vector<Command> commands;
  bool help = false;
  bool version = false;
};

struct HostOptionsResult {
  HostOptions options;
  std::string error;  // empty when the command line was good
};

// `args` without the program name.
HostOptionsResult ParseHostOptions(const std::vector<std::string_view>& args);
std::string HostUsage();

}  // namespace tk571::host
