// Results of the Google Benchmark runs, kept by name so that the ratios can
// be formed after all runs of one process.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace tk571::bench {

struct Result {
  // CPU time of one iteration, in nanoseconds.
  double cpu_ns = 0;
  double real_ns = 0;
  std::map<std::string, double> counters;
  bool from_median = false;
};

using Results = std::map<std::string, Result>;

// Names under which the benchmarks are registered.
std::string PollName(bool driver, bool changed, int tags);
std::string StartName(int tags);
std::string MemoryName(int tags);

inline constexpr int kPollTagCounts[] = {1, 100, 1000, 10000};
inline constexpr int kStartTagCounts[] = {1000, 2000, 5000, 10000};
inline constexpr int kStartDevices = 100;

void RegisterPollCost();
void RegisterStartCost();

// Prints the figures; a figure whose benchmarks did not run (filtered out or
// failed) is named as not measured.
void PrintPollFigures(const Results& results);
void PrintStartFigures(const Results& results);

}  // namespace tk571::bench
