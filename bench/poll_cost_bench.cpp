// Host poll cost: one OnDataRead call, as the host makes it at every scan,
// with 1 to 10000 tags of which none or all changed since the last call,
// against a loop that only compares and copies as many doubles.
//
// The driver object is the one IniDriver creates. Its communication is
// switched off (as an ENCOMMLINK tag written 0 does), so that no exchange on
// the line runs inside the measured call and only the reporting loop and the
// fixed cost of a call remain. Tags change by their values being set between
// calls, with the timer paused, as the read handlers set them from replies.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_support.h"
#include "driver/thread_objects.h"
#include "figures.h"

namespace tk571::bench {

namespace {

// The name without the tag count, which the argument appends.
std::string PollFamily(bool driver, bool changed) {
  return std::string("PollCost/") + (driver ? "OnDataRead" : "Baseline") + "/" +
         (changed ? "changed" : "unchanged");
}

bool StartDriver(std::vector<TTagInfo>& defs, int devices) {
  SharedLine();
  std::vector<uint8_t> block = ParameterBlock(devices);
  std::vector<TTagInfo*> pointers = Pointers(defs);
  char* message = nullptr;
  const bool ok =
      IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), block.data(), &message);
  std::free(message);
  const TDLLObject* object = ThreadObject();
  return ok && object && object->TagCount() == static_cast<int32_t>(defs.size());
}

void StopDriver() {
  FreeDriver();
  DestroyThreadObject();
}

void PollDriver(benchmark::State& state, bool changed) {
  const int tags = static_cast<int>(state.range(0));
  std::vector<TTagInfo> defs = PlantTags(tags, kStartDevices, /*numbers_only=*/true);
  if (!StartDriver(defs, kStartDevices)) {
    state.SkipWithError("IniDriver did not start");
    return;
  }
  TDLLObject& object = *ThreadObject();
  object.SetCommEnabled(false);
  // Every tag holds a reading, reported once, as after the first round of
  // exchanges.
  double value = 0.5;
  for (int32_t i = 0; i < tags; ++i) object.TagAt(i)->Value = TagValue::Double(value);
  std::vector<TTagValueRec> records(static_cast<std::size_t>(tags));
  int32_t count = 0;
  char* message = nullptr;
  OnDataRead(&count, records.data(), &message);
  std::free(message);
  if (count != tags) {
    state.SkipWithError("the first OnDataRead did not report every tag");
    StopDriver();
    return;
  }

  int64_t reported = 0;
  for (auto _ : state) {
    if (changed) {
      state.PauseTiming();
      value += 1;
      for (int32_t i = 0; i < tags; ++i) object.TagAt(i)->Value = TagValue::Double(value);
      state.ResumeTiming();
    }
    message = nullptr;
    OnDataRead(&count, records.data(), &message);
    if (message) std::free(message);
    reported += count;
  }
  const int64_t expected = changed ? static_cast<int64_t>(state.iterations()) * tags : 0;
  if (reported != expected) state.SkipWithError("OnDataRead reported other tags than changed");
  state.counters["tags"] = tags;
  StopDriver();
}

// What a host could not do with less: compare each value with the one last
// reported and copy the changed ones into records.
struct Slot {
  double value = 0;
  double reported = 0;
};

void PollBaseline(benchmark::State& state, bool changed) {
  const int tags = static_cast<int>(state.range(0));
  double value = 0.5;
  std::vector<Slot> slots(static_cast<std::size_t>(tags), Slot{value, value});
  std::vector<TTagValueRec> records(static_cast<std::size_t>(tags));
  int64_t reported = 0;
  for (auto _ : state) {
    if (changed) {
      state.PauseTiming();
      value += 1;
      for (Slot& slot : slots) slot.value = value;
      state.ResumeTiming();
    }
    int32_t count = 0;
    for (int32_t i = 0; i < tags; ++i) {
      Slot& slot = slots[static_cast<std::size_t>(i)];
      if (slot.value == slot.reported) continue;
      slot.reported = slot.value;
      TTagValueRec& record = records[static_cast<std::size_t>(count++)];
      record.TagID = static_cast<uint32_t>(i + 1);
      record.Value.Float = slot.value;
    }
    benchmark::DoNotOptimize(records.data());
    benchmark::ClobberMemory();
    reported += count;
  }
  const int64_t expected = changed ? static_cast<int64_t>(state.iterations()) * tags : 0;
  if (reported != expected) state.SkipWithError("baseline reported other values than changed");
  state.counters["tags"] = tags;
}

// The cost of pausing and resuming the timer, which the changed rows pay once
// per call and which is taken off them.
void PauseOverhead(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    state.ResumeTiming();
  }
}

constexpr char kPauseName[] = "PollCost/PauseOverhead";

const Result* Find(const Results& results, const std::string& name) {
  const auto it = results.find(name);
  return it == results.end() ? nullptr : &it->second;
}

}  // namespace

std::string PollName(bool driver, bool changed, int tags) {
  return PollFamily(driver, changed) + "/" + std::to_string(tags);
}

void RegisterPollCost() {
  benchmark::RegisterBenchmark(kPauseName, PauseOverhead);
  // Each driver run right after its baseline, so that both see the machine in
  // the same state.
  for (const bool changed : {false, true}) {
    for (const int tags : kPollTagCounts) {
      benchmark::RegisterBenchmark(PollFamily(false, changed).c_str(), PollBaseline, changed)
          ->Arg(tags);
      benchmark::RegisterBenchmark(PollFamily(true, changed).c_str(), PollDriver, changed)
          ->Arg(tags);
    }
  }
}

void PrintPollFigures(const Results& results) {
  const Result* pause = Find(results, kPauseName);
  std::printf("Host poll cost: CPU time of one OnDataRead per tag, against a loop that\n");
  std::printf("compares and copies as many doubles (goal: unchanged tags within 5x).\n");
  std::printf("Changed rows without the timer pause in which the values change (%.0f ns).\n",
              pause ? pause->cpu_ns : 0.0);
  std::printf("  %6s  %-9s  %12s  %12s  %7s\n", "tags", "", "OnDataRead", "baseline", "ratio");
  for (const bool changed : {false, true}) {
    for (const int tags : kPollTagCounts) {
      const Result* driver = Find(results, PollName(true, changed, tags));
      const Result* baseline = Find(results, PollName(false, changed, tags));
      const char* what = changed ? "changed" : "unchanged";
      if (!driver || !baseline) {
        std::printf("  %6d  %-9s  not measured\n", tags, what);
        continue;
      }
      const double paused = changed && pause ? pause->cpu_ns : 0.0;
      const double d = (driver->cpu_ns - paused) / tags;
      const double b = (baseline->cpu_ns - paused) / tags;
      std::printf("  %6d  %-9s  %9.2f ns  %9.2f ns  %7.1f\n", tags, what, d, b, d / b);
    }
  }
  const Result* driver = Find(results, PollName(true, false, 10000));
  const Result* baseline = Find(results, PollName(false, false, 10000));
  if (driver && baseline) {
    const double ratio = driver->cpu_ns / baseline->cpu_ns;
    std::printf("  goal, unchanged tag at 10000 tags: %.1fx the baseline, %s\n", ratio,
                ratio <= 5.0 ? "met" : "NOT met");
  }
  std::printf("\n");
}

}  // namespace tk571::bench
