// A long run of the driver through its entry points against simulated
// controllers on a pseudo-terminal, with line faults cycling: the host polls
// at the driver's scan time, loads a recipe every minute, reads recipes back
// and starts and stops batches. Every action write the driver accepts must
// end answered or failed; a write that does neither is lost. Heap, resident
// memory and descriptors are sampled along the way.
//   tk571_soak --minutes 10 [--controllers 3] [--baud 19200]
// Exit status 1 when a write was lost or none was answered.
#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "driver/thread_objects.h"
#include "support/tag_defs.h"
#include "tk571/driver.h"
#include "tk571sim/line.h"

namespace {

namespace sim = tk571::sim;

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;
using tk571::testing::TagDef;

struct Options {
  double minutes = 10;
  int controllers = 3;
  int baud = 19200;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--minutes") {
      o.minutes = std::atof(value);
    } else if (name == "--controllers") {
      o.controllers = std::atoi(value);
    } else if (name == "--baud") {
      o.baud = std::atoi(value);
    } else {
      return std::nullopt;
    }
  }
  if (argc % 2 == 0 || o.minutes <= 0 || o.controllers < 1 || o.controllers > 9)
    return std::nullopt;
  return o;
}

// Tag ids: 100 * device + kind.
constexpr uint32_t kCommLink = 1;
constexpr uint32_t kRead = 1;
constexpr uint32_t kFinal = 10;
constexpr uint32_t kCoarse = 20;
constexpr uint32_t kFine = 30;
constexpr uint32_t kLoad = 40;
constexpr uint32_t kReadBack = 41;
constexpr uint32_t kStart = 42;
constexpr uint32_t kDeviceLink = 50;
uint32_t Id(int device, uint32_t kind) {
  return 100u * static_cast<uint32_t>(device) + kind;
}

// A write counts as answered or failed when the host sees it so; after this
// long without either, and with nothing of it left in the driver, it is lost.
constexpr auto kWriteDeadline = seconds(45);
constexpr auto kDrainLimit = seconds(90);
constexpr auto kFaultPhase = seconds(20);
constexpr auto kUnplugged = seconds(4);
constexpr auto kRecipePeriod = seconds(60);
constexpr auto kReadBackPeriod = seconds(25);
constexpr auto kStartPeriod = seconds(15);
constexpr auto kSamplePeriod = seconds(10);

struct Sample {
  double heap_kib;
  double rss_kib;
  int descriptors;
};

Sample TakeSample() {
  Sample s{};
  s.heap_kib = static_cast<double>(mallinfo2().uordblks) / 1024.0;
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  s.rss_kib = static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') ++s.descriptors;
    }
    closedir(dir);
    --s.descriptors;  // the directory's own
  }
  return s;
}

struct Pending {
  double value;
  Clock::time_point made;
};

struct Counts {
  long made = 0;
  long refused = 0;
  long answered = 0;
  long failed_reported = 0;
  long failed_hidden = 0;
  long lost = 0;
  long setpoints = 0;
  long reports = 0;
};

class Soak {
 public:
  explicit Soak(const Options& o) {
    block_.assign(TK571_PDB_SIZE, 0);
    FullPDB(block_.data());
    block_[TK571_PDB_ENTRIES + TK571_PDB_ENTRY_TYPE_CODE] = 1;  // entry 0 unused
    defs_.push_back(TagDef(kCommLink, "COMMLINK", TK571_VALUE_STRING));
    for (int d = 1; d <= o.controllers; ++d) {
      uint8_t* entry =
          &block_[TK571_PDB_ENTRIES + static_cast<std::size_t>(d) * TK571_PDB_ENTRY_SIZE];
      entry[TK571_PDB_ENTRY_TYPE_CODE] = 0;
      entry[TK571_PDB_ENTRY_TYPE_NAME] = 5;
      std::memcpy(entry + TK571_PDB_ENTRY_TYPE_NAME + 1, "TK571", 5);
      const std::string n = std::to_string(d);
      defs_.push_back(TagDef(Id(d, kRead), "READ" + n + ":1", TK571_VALUE_FLOAT, 100));
      for (int m = 1; m <= 4; ++m) {
        const std::string ch = n + ":" + std::to_string(m);
        defs_.push_back(TagDef(Id(d, kFinal + m), "M_FINAL" + ch));
        defs_.push_back(TagDef(Id(d, kCoarse + m), "M_COARSE" + ch));
        defs_.push_back(TagDef(Id(d, kFine + m), "M_FINE" + ch));
      }
      defs_.push_back(TagDef(Id(d, kLoad), "LOAD_SETM" + n + ":1", TK571_VALUE_BOOL));
      defs_.push_back(TagDef(Id(d, kReadBack), "READ_SETM" + n + ":1", TK571_VALUE_BOOL));
      defs_.push_back(TagDef(Id(d, kStart), "START_UP" + n + ":1", TK571_VALUE_BOOL));
      defs_.push_back(TagDef(Id(d, kDeviceLink), "DEVICELINK" + n, TK571_VALUE_STRING));
    }
    block_[TK571_PDB_BAUD_INDEX] = BaudIndex(o.baud);
    block_[TK571_PDB_CONNECT_MODE] = 1;
    block_[TK571_PDB_LOG_ERRORS] = 1;
    records_.resize(defs_.size());
  }
  ~Soak() {
    FreeDriver();
    tk571::DestroyThreadObject();
  }

  bool Start() {
    std::vector<TTagInfo*> pointers;
    for (auto& d : defs_) pointers.push_back(&d);
    char* message = nullptr;
    const bool ok =
        IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), block_.data(), &message);
    std::free(message);
    return ok;
  }

  void Poll() {
    int32_t count = 0;
    char* message = nullptr;
    OnDataRead(&count, records_.data(), &message);
    std::free(message);
    for (int32_t i = 0; i < count; ++i) {
      const TTagValueRec& r = records_[static_cast<std::size_t>(i)];
      ++counts_.reports;
      double value = 0;
      if (r.ValueType == TK571_VALUE_STRING) {
        std::free(r.Value.String);
      } else {
        value = r.ValueType == TK571_VALUE_BOOL ? r.Value.Bool : r.Value.Float;
        shown_[r.TagID] = value;
      }
      Resolve(r.TagID, value, r.Quality);
    }
  }

  // An action (LOAD_SETM, READ_SETM, START_UP): the opposite of what the tag
  // shows, so that every action is a change. One at a time per tag.
  void Act(int device, uint32_t kind) {
    const uint32_t id = Id(device, kind);
    if (pending_.count(id)) return;
    const double value = shown_[id] != 0 ? 0 : 1;
    if (Write(id, value, TK571_VALUE_BOOL)) {
      ++counts_.made;
      pending_[id] = {value, Clock::now()};
    } else {
      ++counts_.refused;
    }
  }

  void WriteRecipe(int device, int serial) {
    for (int m = 1; m <= 4; ++m) {
      const double final_kg = 200 + (serial * 37 + m * 11) % 700;
      Write(Id(device, kFinal + m), final_kg);
      Write(Id(device, kCoarse + m), final_kg - 40 - m);
      Write(Id(device, kFine + m), 2 + (serial + m) % 9);
      counts_.setpoints += 3;
    }
    Act(device, kLoad);
  }

  // Writes whose time is up: failed when the driver marked the tag so
  // without telling the host, lost when the driver has nothing of it left.
  void ExpireWrites(bool final_check) {
    const auto now = Clock::now();
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (!final_check && now - it->second.made < kWriteDeadline) {
        ++it;
        continue;
      }
      tk571::TDLLObject* object = tk571::ThreadObject();
      const tk571::TDLLTag* tag = object ? object->FindTag(it->first) : nullptr;
      const tk571::TCommand* current = object ? object->CurrentCommand() : nullptr;
      if (!final_check && tag && current && current->IsWrite && !current->Indexes.empty() &&
          current->Indexes.front() == tag->Index) {
        ++it;  // on the line right now
        continue;
      }
      if (tag && (tag->Quality & (TK571_QUALITY_WRITE_FAILED | TK571_QUALITY_WRITE_STALE))) {
        ++counts_.failed_hidden;
      } else {
        ++counts_.lost;
        std::printf("lost: write of %g to tag %u, %lld s ago\n", it->second.value, it->first,
                    static_cast<long long>(
                        std::chrono::duration_cast<seconds>(now - it->second.made).count()));
      }
      it = pending_.erase(it);
    }
  }

  bool Idle() const { return pending_.empty(); }
  const Counts& counts() const { return counts_; }

 private:
  static uint8_t BaudIndex(int baud) {
    switch (baud) {
      case 9600:
        return 6;
      case 38400:
        return 9;
      case 115200:
        return 12;
      default:
        return 8;  // 19200
    }
  }

  bool Write(uint32_t id, double value, uint8_t type = TK571_VALUE_FLOAT) {
    TTagValueRec r{};
    r.TagID = id;
    r.ValueType = type;
    if (type == TK571_VALUE_BOOL) {
      r.Value.Bool = value != 0;
    } else {
      r.Value.Float = value;
    }
    char* message = nullptr;
    const bool ok = OnDataWrite(1, &r, &message);
    std::free(message);
    return ok;
  }

  void Resolve(uint32_t id, double value, uint32_t quality) {
    const auto it = pending_.find(id);
    if (it == pending_.end()) return;
    if (quality & (TK571_QUALITY_WRITE_FAILED | TK571_QUALITY_WRITE_STALE)) {
      ++counts_.failed_reported;
    } else if (quality == TK571_QUALITY_GOOD && value == it->second.value) {
      ++counts_.answered;
    } else {
      return;
    }
    pending_.erase(it);
  }

  std::vector<uint8_t> block_;
  std::vector<TTagInfo> defs_;
  std::vector<TTagValueRec> records_;
  std::map<uint32_t, double> shown_;
  std::map<uint32_t, Pending> pending_;
  Counts counts_;
};

// The faults of one phase: a controller in turn gets one misbehaviour, or the
// adapter is pulled out for a few seconds (the fourth of every eight phases,
// so that a two-minute soak has one).
class FaultCycle {
 public:
  FaultCycle(sim::Line& line, int controllers) : line_(line), controllers_(controllers) {}

  void Next() {
    Clear();
    const int kind = phase_ % 8;
    const int device = 1 + (phase_ / 8) % controllers_;
    ++phase_;
    sim::Faults f;
    switch (kind) {
      case 1:
        f.silent = true;
        break;
      case 2:
        f.garbage = true;
        break;
      case 3:
        line_.Unplug();
        unplugged_ = true;
        unplugged_at_ = Clock::now();
        ++unplugs_;
        return;
      case 4:
        f.split_parts = 3;
        break;
      case 5:
        f.noise_bytes = 7;
        break;
      case 6:
        f.late = milliseconds(150);
        break;
      case 7:
        f.drop_crlf = true;
        break;
      default:
        return;
    }
    line_.SetFaults(device, f);
    faulty_ = device;
  }

  void Tick() {
    if (unplugged_ && Clock::now() - unplugged_at_ > kUnplugged) {
      line_.Replug();
      unplugged_ = false;
    }
  }

  void Clear() {
    if (unplugged_) {
      line_.Replug();
      unplugged_ = false;
    }
    if (faulty_ != kNoDevice) line_.SetFaults(faulty_, {});
    faulty_ = kNoDevice;
  }

  int phases() const { return phase_; }
  int unplugs() const { return unplugs_; }

 private:
  sim::Line& line_;
  int controllers_;
  int phase_ = 0;
  int unplugs_ = 0;
  static constexpr int kNoDevice = -1;
  int faulty_ = kNoDevice;
  bool unplugged_ = false;
  Clock::time_point unplugged_at_{};
};

void PrintSample(const char* when, double minutes, const Sample& s, const Counts& c) {
  std::printf(
      "%-5s %6.1f min  heap %9.1f KiB  rss %9.1f KiB  fds %3d  writes made %ld answered %ld "
      "failed %ld lost %ld\n",
      when, minutes, s.heap_kib, s.rss_kib, s.descriptors, c.made, c.answered,
      c.failed_reported + c.failed_hidden, c.lost);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr, "usage: %s --minutes N [--controllers 1..9] [--baud 19200]\n", argv[0]);
    return 2;
  }
  sim::LineSettings settings;
  settings.baud = options->baud;
  settings.data_bits = 7;
  settings.parity = sim::Parity::kEven;
  settings.seed = 571;
  sim::Line line(settings);
  for (int d = 1; d <= options->controllers; ++d) {
    line.AddController(d);
    line.WithController(d, [d](sim::Controller& c, auto) { c.SetGrossWeight(10.0 * d); });
  }
  setenv("TK571_COM1", line.LinkPath().c_str(), 1);

  const Sample first = TakeSample();
  Soak soak(*options);
  if (!soak.Start()) {
    std::fprintf(stderr, "the driver did not start\n");
    return 1;
  }
  const Sample started = TakeSample();
  PrintSample("start", 0, started, soak.counts());

  FaultCycle faults(line, options->controllers);
  const auto begin = Clock::now();
  const auto end = begin + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(options->minutes * 60));
  auto next_fault = begin + kFaultPhase;
  auto next_recipe = begin + seconds(5);
  auto next_read_back = begin + seconds(15);
  auto next_start = begin + seconds(10);
  auto next_sample = begin + kSamplePeriod;
  int recipes = 0, read_backs = 0, starts = 0;
  Sample peak = started;
  auto minutes = [&] { return std::chrono::duration<double>(Clock::now() - begin).count() / 60.0; };

  while (Clock::now() < end) {
    soak.Poll();
    const auto now = Clock::now();
    faults.Tick();
    if (now >= next_fault) {
      faults.Next();
      next_fault += kFaultPhase;
    }
    if (now >= next_recipe) {
      soak.WriteRecipe(1 + recipes % options->controllers, recipes);
      ++recipes;
      next_recipe += kRecipePeriod;
    }
    if (now >= next_read_back) {
      soak.Act(1 + read_backs % options->controllers, kReadBack);
      ++read_backs;
      next_read_back += kReadBackPeriod;
    }
    if (now >= next_start) {
      soak.Act(1 + starts % options->controllers, kStart);
      ++starts;
      next_start += kStartPeriod;
    }
    soak.ExpireWrites(false);
    if (now >= next_sample) {
      // The simulator keeps its wire trace; only the driver's memory counts.
      line.ClearTrace();
      const Sample s = TakeSample();
      peak.heap_kib = std::max(peak.heap_kib, s.heap_kib);
      peak.rss_kib = std::max(peak.rss_kib, s.rss_kib);
      peak.descriptors = std::max(peak.descriptors, s.descriptors);
      if (static_cast<int>(minutes() * 6) % 6 == 0) PrintSample("run", minutes(), s, soak.counts());
      next_sample += kSamplePeriod;
    }
    std::this_thread::sleep_for(milliseconds(DetectScanTime()));
  }

  // The line comes back clean; every write still open gets its answer, its
  // failure or its verdict.
  faults.Clear();
  const auto drain_end = Clock::now() + kDrainLimit;
  while (!soak.Idle() && Clock::now() < drain_end) {
    soak.Poll();
    soak.ExpireWrites(false);
    std::this_thread::sleep_for(milliseconds(DetectScanTime()));
  }
  soak.ExpireWrites(true);
  line.ClearTrace();
  const Sample last = TakeSample();
  PrintSample("end", minutes(), last, soak.counts());

  const Counts& c = soak.counts();
  std::printf(
      "\nsoak of %.1f min, %d controllers at %d baud: %d fault phases (%d unplugs), "
      "%d recipes\n",
      minutes(), options->controllers, options->baud, faults.phases(), faults.unplugs(), recipes);
  std::printf(
      "heap in use  before start %.1f KiB, after start %.1f KiB, end %.1f KiB, peak %.1f KiB\n",
      first.heap_kib, started.heap_kib, last.heap_kib, peak.heap_kib);
  if (last.heap_kib == 0) std::printf("(mallinfo2 sees nothing of a sanitizer's allocator)\n");
  std::printf("rss          after start %.1f KiB, end %.1f KiB, peak %.1f KiB\n", started.rss_kib,
              last.rss_kib, peak.rss_kib);
  std::printf("descriptors  after start %d, end %d, peak %d\n", started.descriptors,
              last.descriptors, peak.descriptors);
  std::printf("set-points written %ld; records reported %ld\n", c.setpoints, c.reports);
  std::printf(
      "action writes made %ld, answered %ld, failed %ld (reported %ld, hidden from the "
      "host %ld), lost %ld; refused by the driver %ld\n",
      c.made, c.answered, c.failed_reported + c.failed_hidden, c.failed_reported, c.failed_hidden,
      c.lost, c.refused);
  const bool ok = c.lost == 0 && c.answered > 0;
  std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
  return ok ? 0 : 1;
}
