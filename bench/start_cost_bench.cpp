// Start cost and memory: IniDriver with 1000 to 10000 tags on 100
// controllers, and the heap the started driver holds per tag.
//
// Each iteration starts a fresh driver object; stopping the previous one (its
// stop report writes a line per tag) runs with the timer paused. The start
// includes opening the serial port, a fixed cost, so the growth is judged by
// the cost of the added tags: per tag from 1000 to 2000 tags against per tag
// from 5000 to 10000, which stays near 1 when the start is linear in the tag
// count and near 7.5 when it is quadratic.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_support.h"
#include "driver/thread_objects.h"
#include "figures.h"

namespace tk571::bench {

namespace {

constexpr char kStartFamily[] = "StartCost/IniDriver";
constexpr char kMemoryFamily[] = "Memory/IniDriver";

void StopDriver() {
  FreeDriver();
  DestroyThreadObject();
}

// Starts a driver with `defs`; false unless every tag was accepted.
bool Start(std::vector<TTagInfo*>& pointers, const std::vector<uint8_t>& block) {
  std::vector<uint8_t> copy = block;
  char* message = nullptr;
  const bool ok =
      IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), copy.data(), &message);
  std::free(message);
  const TDLLObject* object = ThreadObject();
  return ok && object && object->TagCount() == static_cast<int32_t>(pointers.size());
}

void StartCost(benchmark::State& state) {
  const int tags = static_cast<int>(state.range(0));
  SharedLine();
  std::vector<TTagInfo> defs = PlantTags(tags, kStartDevices);
  std::vector<TTagInfo*> pointers = Pointers(defs);
  const std::vector<uint8_t> block = ParameterBlock(kStartDevices);
  for (auto _ : state) {
    state.PauseTiming();
    StopDriver();
    std::vector<uint8_t> copy = block;
    char* message = nullptr;
    state.ResumeTiming();
    const bool ok =
        IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), copy.data(), &message);
    state.PauseTiming();
    std::free(message);
    const TDLLObject* object = ThreadObject();
    if (!ok || !object || object->TagCount() != tags) {
      state.SkipWithError("IniDriver did not accept every tag");
      break;
    }
    state.ResumeTiming();
  }
  StopDriver();
  state.counters["tags"] = tags;
}

// Heap in use, in every arena and in mapped chunks.
double HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<double>(info.uordblks + info.hblkhd);
}

void Memory(benchmark::State& state) {
  const int tags = static_cast<int>(state.range(0));
  SharedLine();
  std::vector<TTagInfo> defs = PlantTags(tags, kStartDevices);
  std::vector<TTagInfo*> pointers = Pointers(defs);
  const std::vector<uint8_t> block = ParameterBlock(kStartDevices);
  // A first start fills what the library keeps once per process (texts,
  // module information, the log's state), which no tag costs.
  if (!Start(pointers, block)) {
    state.SkipWithError("IniDriver did not accept every tag");
    return;
  }
  double held = 0;
  for (auto _ : state) {
    StopDriver();
    const double before = HeapInUse();
    if (!Start(pointers, block)) {
      state.SkipWithError("IniDriver did not accept every tag");
      break;
    }
    held = HeapInUse() - before;
  }
  StopDriver();
  state.counters["bytes"] = held;
  state.counters["bytes_per_tag"] = held / tags;
}

const Result* Find(const Results& results, const std::string& name) {
  const auto it = results.find(name);
  return it == results.end() ? nullptr : &it->second;
}

}  // namespace

std::string StartName(int tags) {
  return std::string(kStartFamily) + "/" + std::to_string(tags);
}

std::string MemoryName(int tags) {
  return std::string(kMemoryFamily) + "/" + std::to_string(tags) + "/iterations:1";
}

void RegisterStartCost() {
  for (const int tags : kStartTagCounts)
    benchmark::RegisterBenchmark(kStartFamily, StartCost)->Arg(tags)->Unit(benchmark::kMillisecond);
  for (const int tags : {1000, 10000})
    benchmark::RegisterBenchmark(kMemoryFamily, Memory)->Arg(tags)->Iterations(1);
}

void PrintStartFigures(const Results& results) {
  std::printf("Start cost: CPU time of IniDriver on %d controllers\n", kStartDevices);
  bool complete = true;
  for (const int tags : kStartTagCounts) {
    const Result* r = Find(results, StartName(tags));
    if (!r) {
      std::printf("  %6d tags  not measured\n", tags);
      complete = false;
      continue;
    }
    std::printf("  %6d tags  %8.2f ms  %7.2f us per tag\n", tags, r->cpu_ns / 1e6,
                r->cpu_ns / 1e3 / tags);
  }
  if (complete) {
    const double t1000 = Find(results, StartName(1000))->cpu_ns;
    const double t2000 = Find(results, StartName(2000))->cpu_ns;
    const double t5000 = Find(results, StartName(5000))->cpu_ns;
    const double t10000 = Find(results, StartName(10000))->cpu_ns;
    const double low = (t2000 - t1000) / 1000;
    const double high = (t10000 - t5000) / 5000;
    std::printf("  10000 against 1000 tags: %.1fx the time (10x linear, 100x quadratic)\n",
                t10000 / t1000);
    std::printf("  exponent of the growth from 1000 to 10000 tags: %.2f\n",
                std::log10(t10000 / t1000));
    std::printf(
        "  cost of an added tag at 5000..10000 against 1000..2000 tags: %.2f "
        "(1 linear, 7.5 quadratic): %s\n",
        high / low, high / low < 2.0 ? "not quadratic" : "GROWS FASTER THAN LINEAR");
  }
  std::printf("\n");

  std::printf("Memory: heap held by the started driver (mallinfo2 before and after IniDriver)\n");
  const Result* small = Find(results, MemoryName(1000));
  const Result* large = Find(results, MemoryName(10000));
  if (!large) {
    std::printf("  not measured\n\n");
    return;
  }
  const double bytes = large->counters.at("bytes");
  std::printf("  10000 tags: %.0f bytes, %.0f bytes per tag\n", bytes, bytes / 10000);
  if (small) {
    const double small_bytes = small->counters.at("bytes");
    std::printf("   1000 tags: %.0f bytes, %.0f bytes per tag\n", small_bytes, small_bytes / 1000);
    std::printf("  each tag beyond 1000: %.0f bytes\n", (bytes - small_bytes) / 9000);
  }
  std::printf("\n");
}

}  // namespace tk571::bench
