#include "host_options.h"

#include <algorithm>
#include <iterator>
#include <set>

#include "tokens.h"

namespace tk571::host {
namespace {

constexpr int kMinWriteRetries = 2;
constexpr int kMaxWriteRetries = 10;

constexpr std::string_view kUsage = R"(Usage: tk571-host [OPTIONS] [COMMAND...]

Loads the TK571 driver library as a SCADA host does and talks to it through
its fourteen entry points.

Without --tags the commands run against the configuration entry points and
the program ends: tk571-host check READ1:1 kinds probe
With --tags the driver starts on the tag file and is polled until Ctrl-C,
quit, or the end of --duration; commands come from the command line (run
first), from --script and from standard input.

Driver:
  --library PATH          driver library (default: TK571_LIBRARY, else the
                          library installed beside this program, else the
                          one built with it)
Parameter block (FullPDB defaults, then these changes):
  --pdb FILE              start from a saved 26508-byte block instead
  --save-pdb FILE         save the block (after the changes and configure)
  --port N|ComN           serial port Com1..Com16 (Linux: TK571_COMN, else
                          /dev/ttyS<N-1>)
  --device PATH           the device behind that port (sets TK571_COMN)
  --baud N                110 300 600 1200 2400 4800 9600 14400 19200 38400
                          56000 57600 115200 128000 256000
  --data-bits 4..8
  --parity none|odd|even|mark|space
  --stop-bits 1|1.5|2
  --devices LIST          device numbers in use, e.g. 1,2 (0..99)
  --write-retries 2..10
  --debug, --log-errors, --log-trace   switch the run log's detail on
Run:
  --tags FILE             tag definitions (id name address kind scan [initial])
  --script FILE           timed commands: at 2s write M_FINAL1:1 500
  --duration TIME         end after TIME (40s, 2m, 500ms; bare number: s)
  --keep-running          ignore --duration and the script's quit
  --table / --no-table    live table of all tags (default: on a terminal)
  --no-stdin              do not read commands from standard input
  --once                  poll every tag once, print the values and end;
                          exit code 0 only when every device answered
  --format text|json|csv  values as lines, JSON objects or CSV rows (ISO 8601
                          time stamps); other output goes to stderr
  --help                  show this text
  --version               show the version

Exit codes: 0 done; 1 the driver could not be loaded or started, a command
failed, --once: a device did not answer, scan: none answered; 2 bad command
line or input file; 130 and 143 configuration commands (configure included) ended by Ctrl-C
or SIGTERM.

)";

std::optional<int> ParsePort(std::string_view text) {
  std::string upper = ToUpperAscii(text);
  if (upper.rfind("COM", 0) == 0) upper.erase(0, 3);
  const std::optional<int64_t> n = ParseInteger(upper);
  if (!n || *n < 1 || *n > kPortCount) return std::nullopt;
  return static_cast<int>(*n);
}

std::optional<std::vector<int>> ParseDevices(std::string_view text) {
  std::vector<int> devices;
  std::set<int> seen;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::optional<int64_t> n = ParseInteger(text.substr(0, comma));
    if (!n || *n < 0 || *n >= kDeviceCount || !seen.insert(static_cast<int>(*n)).second) {
      return std::nullopt;
    }
    devices.push_back(static_cast<int>(*n));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return devices;
}

}  // namespace

std::string HostUsage() {
  return std::string(kUsage) + CommandHelp();
}

HostOptionsResult ParseHostOptions(const std::vector<std::string_view>& args) {
  HostOptionsResult result;
  HostOptions& o = result.options;
  BlockOptions& b = o.block;
  std::vector<std::string> command_words;
  const auto fail = [&](std::string message) {
    result.error = std::move(message);
    return result;
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view name = args[i];
    if (name.empty() || name[0] != '-' || name == "-") {
      command_words.emplace_back(name);
      continue;
    }
    if (name == "--") {
      for (++i; i < args.size(); ++i) command_words.emplace_back(args[i]);
      break;
    }
    // Switches without a value.
    if (name == "--help" || name == "-h") {
      o.help = true;
      continue;
    }
    if (name == "--version") {
      o.version = true;
      continue;
    }
    if (name == "--once") {
      o.once = true;
      continue;
    }
    if (name == "--keep-running") {
      o.keep_running = true;
      continue;
    }
    if (name == "--table" || name == "--no-table") {
      o.table = name == "--table" ? TableMode::kOn : TableMode::kOff;
      continue;
    }
    if (name == "--no-stdin") {
      o.read_stdin = false;
      continue;
    }
    if (name == "--debug") {
      b.debug = true;
      continue;
    }
    if (name == "--log-errors") {
      b.log_errors = true;
      continue;
    }
    if (name == "--log-trace") {
      b.log_trace = true;
      continue;
    }

    static constexpr std::string_view kValueOptions[] = {
        "--library", "--pdb",           "--save-pdb",  "--tags",   "--script",
        "--port",    "--baud",          "--data-bits", "--parity", "--stop-bits",
        "--devices", "--write-retries", "--duration",  "--device", "--format"};
    if (std::find(std::begin(kValueOptions), std::end(kValueOptions), name) ==
        std::end(kValueOptions)) {
      return fail("unknown option " + std::string(name));
    }
    if (i + 1 >= args.size()) return fail(std::string(name) + " needs a value");
    const std::string_view value = args[++i];
    const auto bad = [&](std::string_view expected) {
      return fail(std::string(name) + ": \"" + std::string(value) + "\" is not " +
                  std::string(expected));
    };
    if (name == "--library") {
      o.library = value;
    } else if (name == "--pdb") {
      o.pdb_file = value;
    } else if (name == "--save-pdb") {
      o.save_pdb_file = value;
    } else if (name == "--tags") {
      o.tags_file = value;
    } else if (name == "--script") {
      o.script_file = value;
    } else if (name == "--port") {
      b.port = ParsePort(value);
      if (!b.port) return bad("a port Com1..Com16");
    } else if (name == "--baud") {
      const std::optional<int64_t> baud = ParseInteger(value);
      if (!baud || std::find(kBaudRates.begin(), kBaudRates.end(), *baud) == kBaudRates.end()) {
        return bad("a baud rate of the driver's table (see --help)");
      }
      b.baud = static_cast<int>(*baud);
    } else if (name == "--data-bits") {
      const std::optional<int64_t> bits = ParseInteger(value);
      if (!bits || *bits < kMinDataBits || *bits > kMaxDataBits) return bad("4..8");
      b.data_bits = static_cast<int>(*bits);
    } else if (name == "--parity") {
      const std::string p = ToUpperAscii(value);
      if (p == "NONE" || p == "N") {
        b.parity = ParityCode::kNone;
      } else if (p == "ODD" || p == "O") {
        b.parity = ParityCode::kOdd;
      } else if (p == "EVEN" || p == "E") {
        b.parity = ParityCode::kEven;
      } else if (p == "MARK" || p == "M") {
        b.parity = ParityCode::kMark;
      } else if (p == "SPACE" || p == "S") {
        b.parity = ParityCode::kSpace;
      } else {
        return bad("none, odd, even, mark or space");
      }
    } else if (name == "--stop-bits") {
      if (value == "1") {
        b.stop_bits = StopBitsCode::kOne;
      } else if (value == "1.5") {
        b.stop_bits = StopBitsCode::kOneAndHalf;
      } else if (value == "2") {
        b.stop_bits = StopBitsCode::kTwo;
      } else {
        return bad("1, 1.5 or 2");
      }
    } else if (name == "--devices") {
      b.devices = ParseDevices(value);
      if (!b.devices) return bad("a list of distinct device numbers 0..99, e.g. 1,2");
    } else if (name == "--write-retries") {
      const std::optional<int64_t> n = ParseInteger(value);
      if (!n || *n < kMinWriteRetries || *n > kMaxWriteRetries) return bad("2..10");
      b.write_retries = static_cast<int>(*n);
    } else if (name == "--device") {
      if (value.empty()) return bad("a device path");
      o.device = value;
    } else if (name == "--format") {
      const std::string f = ToUpperAscii(value);
      if (f == "TEXT") {
        o.format = OutputFormat::kText;
      } else if (f == "JSON") {
        o.format = OutputFormat::kJson;
      } else if (f == "CSV") {
        o.format = OutputFormat::kCsv;
      } else {
        return bad("text, json or csv");
      }
    } else if (name == "--duration") {
      o.duration = ParseDuration(value, std::chrono::seconds(1));
      if (!o.duration || o.duration->count() == 0) return bad("a time such as 40s or 2m");
    }
  }

  const CommandsResult commands = ParseCommandWords(command_words);
  if (!commands.error.empty()) return fail(commands.error);
  o.commands = commands.commands;
  if (o.tags_file.empty()) {
    for (const Command& command : o.commands) {
      if (NeedsRunningDriver(command)) {
        return fail("write, status and log need a running driver: give --tags FILE");
      }
    }
    if (!o.script_file.empty()) return fail("--script needs --tags FILE");
    if (o.once) return fail("--once needs --tags FILE");
  }
  if (o.once && o.keep_running) return fail("--once and --keep-running exclude each other");
  return result;
}

}  // namespace tk571::host
