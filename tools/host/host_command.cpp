#include "host_command.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "tokens.h"

namespace tk571::host {
namespace {

// Parses the command that starts at words[*at] and moves *at past it.
std::string ParseOne(const std::vector<std::string>& words, std::size_t* at, Command* command) {
  const std::string name = ToUpperAscii(words[*at]);
  const auto args = [&](std::size_t n) { return *at + n < words.size(); };
  const auto arg = [&](std::size_t n) { return words[*at + n]; };
  if (name == "WRITE") {
    if (!args(2)) return "write needs a tag and a value: write M_FINAL1:1 500";
    *command = WriteCommand{arg(1), arg(2)};
    *at += 3;
  } else if (name == "CHECK") {
    if (!args(1)) return "check needs an address: check READ1:1";
    *command = CheckCommand{arg(1)};
    *at += 2;
  } else if (name == "SAY") {
    if (!args(1)) return "say needs a text: say \"loading the recipe\"";
    *command = SayCommand{arg(1)};
    *at += 2;
  } else if (name == "LOG") {
    if (!args(1)) return "log needs on or off";
    const std::optional<bool> on = ParseSwitch(arg(1));
    if (!on) return "log needs on or off, not \"" + arg(1) + "\"";
    *command = LogCommand{*on};
    *at += 2;
  } else if (name == "SCAN") {
    ScanCommand scan;
    *at += 1;
    if (*at < words.size() && !words[*at].empty() &&
        std::isdigit(static_cast<unsigned char>(words[*at][0]))) {
      const std::string& range = words[*at];
      const std::size_t dash = range.find('-');
      const std::optional<int64_t> from = ParseInteger(range.substr(0, dash));
      const std::optional<int64_t> to =
          dash == std::string::npos ? from : ParseInteger(range.substr(dash + 1));
      if (!from || !to || *from < 0 || *to > 99 || *from > *to)
        return "scan takes a range of device numbers 0..99: scan 1-10";
      scan.from = static_cast<int>(*from);
      scan.to = static_cast<int>(*to);
      *at += 1;
    }
    *command = scan;
  } else {
    if (name == "KINDS") {
      *command = KindsCommand{};
    } else if (name == "PROBE") {
      *command = ProbeCommand{};
    } else if (name == "CONFIGURE") {
      *command = ConfigureCommand{};
    } else if (name == "PORTS") {
      *command = PortsCommand{};
    } else if (name == "STATUS") {
      *command = StatusCommand{};
    } else if (name == "QUIT" || name == "EXIT") {
      *command = QuitCommand{};
    } else if (name == "HELP" || name == "?") {
      *command = HelpCommand{};
    } else {
      return "unknown command \"" + words[*at] + "\" (try help)";
    }
    *at += 1;
  }
  return std::string();
}

}  // namespace

bool NeedsRunningDriver(const Command& command) {
  return std::holds_alternative<WriteCommand>(command) ||
         std::holds_alternative<StatusCommand>(command) ||
         std::holds_alternative<LogCommand>(command);
}

CommandsResult ParseCommandWords(const std::vector<std::string>& words) {
  CommandsResult result;
  for (std::size_t at = 0; at < words.size();) {
    Command command;
    result.error = ParseOne(words, &at, &command);
    if (!result.error.empty()) {
      result.commands.clear();
      return result;
    }
    result.commands.push_back(std::move(command));
  }
  return result;
}

CommandsResult ParseCommandLine(std::string_view line) {
  std::vector<std::string> words;
  CommandsResult result;
  result.error = SplitWords(line, &words);
  if (!result.error.empty() || words.empty()) return result;
  result = ParseCommandWords(words);
  if (result.error.empty() && result.commands.size() > 1) {
    result.commands.clear();
    result.error = "one command a line";
  }
  return result;
}

Script ParseScript(std::string_view text) {
  Script script;
  script.errors =
      ForEachWordLine(text, [&](int line_number, const std::vector<std::string>& words) {
        if (ToUpperAscii(words[0]) != "AT" || words.size() < 3)
          return std::string("expected \"at TIME COMMAND\", e.g. at 2s write M_FINAL1:1 500");
        const auto at = ParseDuration(words[1], std::chrono::seconds(1));
        if (!at) return "\"" + words[1] + "\" is not a time such as 2s or 1500ms";
        const CommandsResult parsed =
            ParseCommandWords(std::vector<std::string>(words.begin() + 2, words.end()));
        if (!parsed.error.empty()) return parsed.error;
        if (parsed.commands.size() != 1) return std::string("one command a line");
        script.entries.push_back({*at, parsed.commands.front(), line_number});
        return std::string();
      });
  std::stable_sort(script.entries.begin(), script.entries.end(),
                   [](const ScriptEntry& a, const ScriptEntry& b) { return a.at < b.at; });
  return script;
}

Script ReadScript(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Script script;
    script.errors.push_back("cannot open " + path);
    return script;
  }
  std::ostringstream content;
  content << in.rdbuf();
  return ParseScript(content.str());
}

std::string CommandHelp() {
  return "Commands:\n"
         "  write TAG VALUE   write a tag (TAG is its address or name): write M_FINAL1:1 500\n"
         "  check ADDRESS     check a tag address as the start does; its normal form\n"
         "  kinds             list the tag kinds the driver offers\n"
         "  probe             silent device test: does a device answer\n"
         "  configure         open the driver's configuration dialog\n"
         "  ports             list the serial devices and who holds them\n"
         "  scan [FROM-TO]    find the device numbers that answer (default 0-99)\n"
         "  status            show the driver's pending message\n"
         "  log on|off        switch the driver's logging\n"
         "  say TEXT          print a note\n"
         "  quit              stop the driver and end\n";
}

}  // namespace tk571::host
