// Host poll cost: one OnDataRead call, as the host makes it at every scan,
// with 1 to 10000 tags of which none or all changed since the last call,
// against a loop that only compares and copies as many doubles.
//
// The driver object is the one IniDriver creates. Its communication is
// switched off (as an ENCOMMLINK tag written 0 does), so that no exchange on
// the line runs inside the measured call and only the reporting loop and the
// fixed cost of a call remain. Every tag holds a reading, as after the first
// round of exchanges. For the changed rows each iteration first gives every
// tag a new reading, as the read handlers do from replies; that step is also
// measured alone and taken off, for the driver and for the baseline alike.
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

enum class Mode { kUnchanged, kChanged, kChangeOnly };

const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::kUnchanged:
      return "unchanged";
    case Mode::kChanged:
      return "changed";
    case Mode::kChangeOnly:
      return "change-only";
  }
  return "";
}

// The name without the tag count, which the argument appends.
std::string PollFamily(bool driver, Mode mode) {
  return std::string("PollCost/") + (driver ? "OnDataRead" : "Baseline") + "/" + ModeName(mode);
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

void PollDriver(benchmark::State& state, Mode mode) {
  const int tags = static_cast<int>(state.range(0));
  std::vector<TTagInfo> defs = PlantTags(tags, kStartDevices, /*numbers_only=*/true);
  if (!StartDriver(defs, kStartDevices)) {
    state.SkipWithError("IniDriver did not start");
    return;
  }
  TDLLObject& object = *ThreadObject();
  double value = 0.5;
  // The benchmark thread takes the line thread's place as the object's
  // owner, so that no exchange runs inside the measured call.
  StopThreadLine();
  object.SetCommEnabled(false);
  // New readings as the line thread leaves them: the values, published.
  const auto give_readings = [&] {
    for (int32_t i = 0; i < tags; ++i) object.TagAt(i)->Value = TagValue::Double(value);
    object.PublishForHost();
  };
  give_readings();
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
    if (mode != Mode::kUnchanged) {
      value += 1;
      give_readings();
    }
    if (mode == Mode::kChangeOnly) {
      benchmark::ClobberMemory();
      continue;
    }
    message = nullptr;
    OnDataRead(&count, records.data(), &message);
    if (message) std::free(message);
    reported += count;
  }
  const int64_t expected =
      mode == Mode::kChanged ? static_cast<int64_t>(state.iterations()) * tags : 0;
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

void PollBaseline(benchmark::State& state, Mode mode) {
  const int tags = static_cast<int>(state.range(0));
  double value = 0.5;
  std::vector<Slot> slots(static_cast<std::size_t>(tags), Slot{value, value});
  std::vector<TTagValueRec> records(static_cast<std::size_t>(tags));
  int64_t reported = 0;
  for (auto _ : state) {
    if (mode != Mode::kUnchanged) {
      value += 1;
      for (Slot& slot : slots) slot.value = value;
    }
    if (mode == Mode::kChangeOnly) {
      benchmark::DoNotOptimize(slots.data());
      benchmark::ClobberMemory();
      continue;
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
  const int64_t expected =
      mode == Mode::kChanged ? static_cast<int64_t>(state.iterations()) * tags : 0;
  if (reported != expected) state.SkipWithError("baseline reported other values than changed");
  state.counters["tags"] = tags;
}

std::string PollName(bool driver, Mode mode, int tags) {
  return PollFamily(driver, mode) + "/" + std::to_string(tags);
}

const Result* Find(const Results& results, const std::string& name) {
  const auto it = results.find(name);
  return it == results.end() ? nullptr : &it->second;
}

}  // namespace

void RegisterPollCost() {
  // Each driver run right after its baseline, so that both see the machine in
  // the same state.
  for (const Mode mode : {Mode::kUnchanged, Mode::kChanged, Mode::kChangeOnly}) {
    for (const int tags : kPollTagCounts) {
      benchmark::RegisterBenchmark(PollFamily(false, mode).c_str(), PollBaseline, mode)->Arg(tags);
      benchmark::RegisterBenchmark(PollFamily(true, mode).c_str(), PollDriver, mode)->Arg(tags);
    }
  }
}

void PrintPollFigures(const Results& results) {
  std::printf("Host poll cost: CPU time of one OnDataRead per tag, against a loop that\n");
  std::printf("compares and copies as many doubles (goal: unchanged tags within 5x).\n");
  std::printf("Changed rows without the step that gives the tags new values.\n");
  std::printf("  %6s  %-9s  %12s  %12s  %7s\n", "tags", "", "OnDataRead", "baseline", "ratio");
  for (const Mode mode : {Mode::kUnchanged, Mode::kChanged}) {
    for (const int tags : kPollTagCounts) {
      const Result* driver = Find(results, PollName(true, mode, tags));
      const Result* baseline = Find(results, PollName(false, mode, tags));
      const Result* driver_step = Find(results, PollName(true, Mode::kChangeOnly, tags));
      const Result* baseline_step = Find(results, PollName(false, Mode::kChangeOnly, tags));
      const bool changed = mode == Mode::kChanged;
      if (!driver || !baseline || (changed && (!driver_step || !baseline_step))) {
        std::printf("  %6d  %-9s  not measured\n", tags, ModeName(mode));
        continue;
      }
      const double d = (driver->cpu_ns - (changed ? driver_step->cpu_ns : 0.0)) / tags;
      const double b = (baseline->cpu_ns - (changed ? baseline_step->cpu_ns : 0.0)) / tags;
      std::printf("  %6d  %-9s  %9.2f ns  %9.2f ns  %7.1f\n", tags, ModeName(mode), d, b, d / b);
    }
  }
  for (const int tags : {1000, 10000}) {
    const Result* driver = Find(results, PollName(true, Mode::kUnchanged, tags));
    const Result* baseline = Find(results, PollName(false, Mode::kUnchanged, tags));
    if (!driver || !baseline) continue;
    const double ratio = driver->cpu_ns / baseline->cpu_ns;
    std::printf("  goal, unchanged tag at %5d tags: %.1fx the baseline, %s\n", tags, ratio,
                ratio <= 5.0 ? "met" : "NOT met");
  }
  std::printf("\n");
}

}  // namespace tk571::bench
