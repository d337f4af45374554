// tk571-sim: a serial line with TK571 controllers on a pseudo-terminal.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "tk571sim/cli_options.h"
#include "tk571sim/control.h"
#include "tk571sim/control_input.h"
#include "tk571sim/line.h"

namespace {

using tk571::sim::Line;
using tk571::sim::ProgramOptions;

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

// Waits for SIGINT or SIGTERM for at most `timeout`; true when one came.
bool WaitForStop(const sigset_t& signals, std::chrono::milliseconds timeout) {
  const auto s = std::chrono::duration_cast<std::chrono::seconds>(timeout);
  const timespec wait{static_cast<time_t>(s.count()),
                      static_cast<long>(std::chrono::nanoseconds(timeout - s).count())};
  for (;;) {
    const int signal = sigtimedwait(&signals, nullptr, &wait);
    if (signal >= 0) return true;
    if (errno == EAGAIN) return false;
    if (errno != EINTR) return true;
  }
}

void ServeUntilStopped(Line& line, const ProgramOptions& options, const sigset_t& signals) {
  if (!options.flap) {
    WaitForStop(signals, std::chrono::hours(24 * 365));
    return;
  }
  for (;;) {
    if (WaitForStop(signals, options.flap->first)) return;
    line.Unplug();
    if (WaitForStop(signals, options.flap->second)) return;
    line.Replug();
  }
}

int Run(const ProgramOptions& options) {
  // The worker thread inherits this mask, so the signals reach sigtimedwait.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::ofstream trace_file;
  std::ostream* trace = nullptr;
  if (options.trace_file == "-") {
    trace = &std::cerr;
  } else if (!options.trace_file.empty()) {
    trace_file.open(options.trace_file, std::ios::app);
    if (!trace_file) {
      std::cerr << "tk571-sim: cannot open " << options.trace_file << "\n";
      return kExitFailure;
    }
    trace = &trace_file;
  }

  Line line(options.line);
  for (int number : options.controllers) line.AddController(number, options.rates);
  for (const auto& [number, faults] : options.faults) line.SetFaults(number, faults);
  for (const auto& [number, recipe] : options.recipes) line.SetRecipe(number, recipe);
  if (trace != nullptr) {
    line.SetTraceListener([trace](const tk571::sim::TraceEntry& entry) {
      *trace << tk571::sim::FormatTraceEntry(entry, true) << std::endl;
    });
    line.SetOverlapListener([trace](const tk571::sim::Overlap& overlap) {
      *trace << tk571::sim::FormatOverlap(overlap, true) << std::endl;
    });
  }
  if (options.verbose) {
    line.SetLogger([](std::string_view text) { std::cerr << "tk571-sim: " << text << "\n"; });
  }

  const bool print_link = !options.line.link_path.empty() || options.flap;
  std::cout << (print_link ? line.LinkPath() : line.SlavePath()) << std::endl;

  std::unique_ptr<tk571::sim::ControlInput> control;
  if (!options.control.empty()) {
    control = std::make_unique<tk571::sim::ControlInput>(
        options.control,
        [&line](std::string_view command) { return tk571::sim::RunControlCommand(line, command); },
        [](std::string_view reply) { std::cout << reply << std::endl; });
  }
  ServeUntilStopped(line, options, signals);
  control.reset();
  std::cerr << "tk571-sim: " << tk571::sim::FormatOverlapCounts(line.Overlaps()) << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const tk571::sim::ParseResult parsed = tk571::sim::ParseOptions(args);
  if (!parsed.error.empty()) {
    std::cerr << "tk571-sim: " << parsed.error << "\nTry tk571-sim --help.\n";
    return kExitUsage;
  }
  if (parsed.options.help) {
    std::cout << tk571::sim::UsageText();
    return 0;
  }
  try {
    return Run(parsed.options);
  } catch (const std::exception& e) {
    std::cerr << "tk571-sim: " << e.what() << "\n";
    return kExitFailure;
  }
}
