// Runs the host-side benchmarks and prints each figure as a ratio of two
// results of this one run, so that the speed of a shared machine cancels out.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "driver/thread_objects.h"
#include "figures.h"
#include "tk571/driver.h"

namespace tk571::bench {
namespace {

class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) {
        ++errors_;
        continue;
      }
      if (run.iterations <= 0) continue;
      // With --benchmark_repetitions the median stands for the run.
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Aggregate && !median) continue;
      Result& result = results_[run.run_name.str()];
      if (result.from_median && !median) continue;
      const double iterations = static_cast<double>(run.iterations);
      result.cpu_ns = run.cpu_accumulated_time / iterations * 1e9;
      result.real_ns = run.real_accumulated_time / iterations * 1e9;
      result.from_median = median;
      result.counters.clear();
      for (const auto& [name, counter] : run.counters) result.counters[name] = counter.value;
    }
  }
  const Results& results() const { return results_; }
  int errors() const { return errors_; }

 private:
  Results results_;
  int errors_ = 0;
};

}  // namespace
}  // namespace tk571::bench

int main(int argc, char** argv) {
  using namespace tk571::bench;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterPollCost();
  RegisterStartCost();
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();
  FreeDriver();
  tk571::DestroyThreadObject();

  std::printf("\n");
  PrintPollFigures(collector.results());
  PrintStartFigures(collector.results());
  // A missed goal is a figure to read, not a failure; a benchmark that could
  // not measure is.
  return collector.errors() == 0 ? 0 : 1;
}
