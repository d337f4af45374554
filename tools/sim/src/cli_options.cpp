#include "tk571sim/cli_options.h"

#include <set>

#include "numbers.h"
#include "tk571sim/fault_names.h"

namespace tk571::sim {
namespace {

// The controller shows set-points with four digits.
constexpr int kMaxSetpointKg = 9999;

constexpr std::string_view kUsage = R"(Usage: tk571-sim [OPTIONS]

Plays a serial line with TK571 batching controllers on a pseudo-terminal.
Prints the path the driver should open on the first line of stdout, then runs
until SIGINT or SIGTERM.

Line:
  --mode rs485|rs232      several selectable controllers, or one that always
                          answers (default rs485)
  --controllers LIST      device numbers 0..99, e.g. 1,2,7 (default 1; one
                          number for rs232)
  --baud N                baud rate used for the line timing (default 9600)
  --data-bits 5..8        (default 8)
  --parity none|odd|even|mark|space   (default none)
  --stop-bits 1|1.5|2     (default 1)
  --turnaround MS         pause before each answer (default 5)
  --link PATH             symlink that always points at the current slave
                          side; it is printed instead of the slave path
  --flap UP_MS:DOWN_MS    unplug the line after UP_MS, for DOWN_MS, repeatedly
                          (the slave path changes; use --link)
  --local-echo            every byte the driver sends comes back to it first,
                          as from an RS-485 adapter whose receiver stays on

Controllers:
  --recipe N:F/C/f,F/C/f,F/C/f,F/C/f
                          preload FINAL/COARSE/FINE of materials 1..4
  --fast-rate KG_PER_S    fast feed (default 20)
  --slow-rate KG_PER_S    slow feed (default 2)
  --settle MS             time the material in flight needs to land (default 800)
  --seed N                fixed random seed (reproducible overshoot and junk)

Faults (N is a device number; each option may be repeated):
  --silent N              controller N neither acts nor answers
  --select-only N         controller N acknowledges its select request and
                          neither acts on nor answers anything else
  --late N:MS             controller N answers MS later
  --late-r N:MS           controller N answers "R" MS later still (its other
                          answers keep their time)
  --garbage N             controller N answers junk of the same length
  --split N:PARTS[:GAP_MS]  controller N writes each answer in PARTS pieces
                          GAP_MS apart (default gap 20)
  --status-pause N:MS[:CHARS]  controller N stops its status line for MS
                          after CHARS characters (default 18)
  --drop-crlf N           controller N leaves CR LF off its answers
  --noise N:COUNT         controller N puts COUNT random bytes before answers
  --noise-byte N:XX       controller N puts the byte XX (hex) before answers
  --bare-echo N           controller N takes a typed set-point but echoes it
                          without its label ("500" instead of "M1 FINAL 500")
  --continuous N:MS       controller N sends its weight line every MS unasked
  --power-cycle N:MS      controller N loses power: it forgets its selection
                          and its menu and is dark for MS (at start, or when
                          sent through the control input)

Control (faults can change while the line runs):
  --control PATH          read commands from PATH, a FIFO made when absent,
                          or "-" for stdin; replies go to stdout, one a line:
                            fault N|all NAME [VALUE...]   (NAME as the fault
                                options without "--", VALUE on|off for the
                                switches, "off" for any fault)
                            fault N|all clear
                            faults N
                            overlaps
                            clear-trace
                            start N|all   (the Start key on the panel)
                            unplug
                            replug
                            local-echo on|off
                          e.g. "fault 1 noise-byte FF", "fault 1 late-r off"

Output:
  --trace FILE            append every byte on the line with time stamps
                          ("-" for stderr), and a line "!! overlap K: NN
                          sending|paused|pending, S of L bytes sent" before
                          each request that began while controller NN had an
                          answer on the line or due
  --verbose               log refused requests and line events to stderr
  --help                  show this text
)";

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

using detail::ParseDeviceNumber;
using detail::ParseMillis;
using detail::ParseNumber;

std::optional<Recipe> ParseRecipe(std::string_view text) {
  const std::vector<std::string_view> materials = Split(text, ',');
  if (materials.size() != kMaterialCount) return std::nullopt;
  Recipe recipe;
  for (int k = 0; k < kMaterialCount; ++k) {
    const std::vector<std::string_view> values = Split(materials[k], '/');
    if (values.size() != 3) return std::nullopt;
    std::optional<int> f = ParseNumber<int>(values[0]), c = ParseNumber<int>(values[1]),
                       n = ParseNumber<int>(values[2]);
    for (const std::optional<int>& v : {f, c, n}) {
      if (!v || *v < 0 || *v > kMaxSetpointKg) return std::nullopt;
    }
    recipe[k] = {*f, *c, *n};
  }
  return recipe;
}

}  // namespace

std::string UsageText() {
  return std::string(kUsage);
}

ParseResult ParseOptions(const std::vector<std::string_view>& args) {
  ParseResult result;
  ProgramOptions& o = result.options;
  auto fail = [&](std::string message) {
    result.error = std::move(message);
    return result;
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view name = args[i];
    if (name == "--help" || name == "-h") {
      o.help = true;
      continue;
    }
    if (name == "--verbose" || name == "-v") {
      o.verbose = true;
      continue;
    }
    if (name == "--local-echo") {
      o.line.local_echo = true;
      continue;
    }
    if (i + 1 >= args.size()) return fail(std::string(name) + " needs a value");
    const std::string_view value = args[++i];
    const std::vector<std::string_view> parts = Split(value, ':');
    const std::string bad = "bad value for " + std::string(name) + ": " + std::string(value);
    // Fault options all start with the device number.
    std::optional<int> device = ParseDeviceNumber(parts[0]);

    if (name == "--mode") {
      if (value == "rs485") {
        o.line.mode = LineMode::kRs485;
      } else if (value == "rs232") {
        o.line.mode = LineMode::kRs232;
      } else {
        return fail(bad);
      }
    } else if (name == "--controllers") {
      o.controllers.clear();
      std::set<int> seen;
      for (std::string_view item : Split(value, ',')) {
        std::optional<int> number = ParseDeviceNumber(item);
        if (!number || !seen.insert(*number).second) return fail(bad);
        o.controllers.push_back(*number);
      }
    } else if (name == "--baud") {
      std::optional<int> baud = ParseNumber<int>(value);
      if (!baud || *baud <= 0) return fail(bad);
      o.line.baud = *baud;
    } else if (name == "--data-bits") {
      std::optional<int> bits = ParseNumber<int>(value);
      if (!bits || *bits < 5 || *bits > 8) return fail(bad);
      o.line.data_bits = *bits;
    } else if (name == "--parity") {
      static const std::map<std::string_view, Parity> kParities = {{"none", Parity::kNone},
                                                                   {"odd", Parity::kOdd},
                                                                   {"even", Parity::kEven},
                                                                   {"mark", Parity::kMark},
                                                                   {"space", Parity::kSpace}};
      auto it = kParities.find(value);
      if (it == kParities.end()) return fail(bad);
      o.line.parity = it->second;
    } else if (name == "--stop-bits") {
      if (value == "1") {
        o.line.stop_bits = 1.0;
      } else if (value == "1.5") {
        o.line.stop_bits = 1.5;
      } else if (value == "2") {
        o.line.stop_bits = 2.0;
      } else {
        return fail(bad);
      }
    } else if (name == "--turnaround") {
      std::optional<std::chrono::milliseconds> ms = ParseMillis(value);
      if (!ms) return fail(bad);
      o.line.turnaround = *ms;
    } else if (name == "--link") {
      o.line.link_path = std::string(value);
    } else if (name == "--trace") {
      o.trace_file = std::string(value);
    } else if (name == "--seed") {
      std::optional<std::uint32_t> seed = ParseNumber<std::uint32_t>(value);
      if (!seed) return fail(bad);
      o.line.seed = *seed;
    } else if (name == "--fast-rate" || name == "--slow-rate") {
      std::optional<double> rate = ParseNumber<double>(value);
      if (!rate || !(*rate > 0.0)) return fail(bad);
      (name == "--fast-rate" ? o.rates.fast_kg_per_s : o.rates.slow_kg_per_s) = *rate;
    } else if (name == "--settle") {
      std::optional<std::chrono::milliseconds> ms = ParseMillis(value);
      if (!ms) return fail(bad);
      o.rates.settle = *ms;
    } else if (name == "--flap") {
      if (parts.size() != 2) return fail(bad);
      std::optional<std::chrono::milliseconds> up = ParseMillis(parts[0]),
                                               down = ParseMillis(parts[1]);
      if (!up || !down || up->count() == 0) return fail(bad);
      o.flap = {{*up, *down}};
    } else if (name == "--recipe") {
      if (!device || parts.size() != 2) return fail(bad);
      std::optional<Recipe> recipe = ParseRecipe(parts[1]);
      if (!recipe) return fail(bad);
      o.recipes[*device] = *recipe;
    } else if (name == "--control") {
      o.control = std::string(value);
    } else if (name.starts_with("--") && IsFaultName(name.substr(2))) {
      if (!device) return fail(bad);
      const std::string error =
          SetFault(o.faults[*device], name.substr(2),
                   std::vector<std::string_view>(parts.begin() + 1, parts.end()));
      if (!error.empty()) return fail(bad);
    } else {
      return fail("unknown option " + std::string(name));
    }
  }

  if (o.controllers.empty()) return fail("no controllers");
  if (o.line.mode == LineMode::kRs232 && o.controllers.size() != 1) {
    return fail("an RS-232 line has exactly one controller");
  }
  const std::set<int> present(o.controllers.begin(), o.controllers.end());
  for (const auto& [number, faults] : o.faults) {
    if (present.count(number) == 0)
      return fail("fault for absent controller " + std::to_string(number));
  }
  for (const auto& [number, recipe] : o.recipes) {
    if (present.count(number) == 0)
      return fail("recipe for absent controller " + std::to_string(number));
  }
  return result;
}

}  // namespace tk571::sim
