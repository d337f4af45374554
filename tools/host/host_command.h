// Commands the host takes from its command line, from standard input and
// from a script:
//
//   write TAG VALUE     OnDataWrite; TAG is a tag's address or name
//   check ADDRESS       TagEdAddr: is the address valid, and its normal form
//   kinds               GetTagAddrList: the tag kinds the driver offers
//   probe               DLLTestDev, silent: does a device answer
//   configure           DLLEdDev: the configuration dialog
//   ports               the serial devices, their stable names and who
//                       holds them
//   scan [FROM-TO]      which device numbers answer on the line
//   status              GetDeviceStatus: the pending message
//   log on|off          WriteLog
//   say TEXT            print a note (for scripts that narrate a run)
//   quit                end the run
//   help                list the commands
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tk571::host {

struct WriteCommand {
  std::string tag;
  std::string value;
  bool operator==(const WriteCommand&) const = default;
};
struct CheckCommand {
  std::string address;
  bool operator==(const CheckCommand&) const = default;
};
struct KindsCommand {
  bool operator==(const KindsCommand&) const = default;
};
struct ProbeCommand {
  bool operator==(const ProbeCommand&) const = default;
};
struct ConfigureCommand {
  bool operator==(const ConfigureCommand&) const = default;
};
struct PortsCommand {
  bool operator==(const PortsCommand&) const = default;
};
struct ScanCommand {
  int from = 0;
  int to = 99;
  bool operator==(const ScanCommand&) const = default;
};
struct StatusCommand {
  bool operator==(const StatusCommand&) const = default;
};
struct LogCommand {
  bool on = false;
  bool operator==(const LogCommand&) const = default;
};
struct SayCommand {
  std::string text;
  bool operator==(const SayCommand&) const = default;
};
struct QuitCommand {
  bool operator==(const QuitCommand&) const = default;
};
struct HelpCommand {
  bool operator==(const HelpCommand&) const = default;
};

using Command = std::variant<WriteCommand, CheckCommand, KindsCommand, ProbeCommand,
                             ConfigureCommand, PortsCommand, ScanCommand, StatusCommand, LogCommand,
                             SayCommand, QuitCommand, HelpCommand>;

// Commands that need a running driver (a tag file was given).
bool NeedsRunningDriver(const Command& command);

struct CommandsResult {
  std::vector<Command> commands;
  std::string error;  // empty when every word was understood
};

// Words as the shell split them, several commands one after another:
// "check READ1:1 kinds write M_FINAL1:1 500".
CommandsResult ParseCommandWords(const std::vector<std::string>& words);

// One typed line holding one command (quotes as in the tag file); an empty
// line or a comment gives no command and no error.
CommandsResult ParseCommandLine(std::string_view line);

// A script of timed commands, one a line: "at 2s write M_FINAL1:1 500".
// Times count from the driver's start; entries run in time order, lines with
// the same time in file order.
struct ScriptEntry {
  std::chrono::milliseconds at{0};
  Command command;
  int line = 0;
};

struct Script {
  std::vector<ScriptEntry> entries;
  std::vector<std::string> errors;  // "line N: reason"
};

Script ParseScript(std::string_view text);
Script ReadScript(const std::string& path);

std::string CommandHelp();

}  // namespace tk571::host
