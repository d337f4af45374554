// Idle cost: the CPU that the driver itself takes while its lines have
// little or nothing to do, and while they poll fast, with 16 driver objects
// each on a line of its own.
//
// Every line is a simulator program (tools/sim) in a process of its own, so
// that the CPU of this process is the driver's and its host threads'. Each
// host thread starts one driver object through IniDriver and polls it with
// OnDataRead every --poll-ms (a SCADA host's scan). The cases:
//   paused    one READ tag, and ENCOMMLINK written 0: nothing may go out
//   backoff   one READ tag scanned every second on a controller that never
//             answers: the command fails and backs off
//   polling   one READ tag scanned every 10 ms on a controller that answers
// After a warm-up, process CPU (getrusage) over --span-ms is printed as a
// share of one core, with the part spent outside the host threads (the line
// threads) beside it.
//
// Usage: tk571_idle_bench [--sim=PATH] [--lines=16] [--span-ms=5000]
//                         [--warm-ms=2000] [--poll-ms=100] [--case=NAME ...]
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"

namespace tk571::bench {
namespace {

constexpr uint32_t kReadId = 1;
constexpr uint32_t kEnCommId = 2;
constexpr int kBaud = 19200;

struct Case {
  std::string name;
  uint32_t scan_ms;
  bool silent;
  bool paused;
};

// One simulator process; its first output line is the path of its line.
class SimProcess {
 public:
  SimProcess(const std::string& program, bool silent) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<std::string> args = {program, "--controllers", "1",  "--baud",
                                       "19200", "--data-bits",   "7",  "--parity",
                                       "even",  "--seed",        "571"};
      if (silent) args.insert(args.end(), {"--silent", "1"});
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    FILE* stream = fdopen(out[0], "r");
    char line[512] = {};
    if (stream && std::fgets(line, sizeof(line), stream)) {
      path_ = line;
      while (!path_.empty() && (path_.back() == '\n' || path_.back() == '\r')) path_.pop_back();
    }
    if (stream) std::fclose(stream);
  }
  ~SimProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  const std::string& Path() const { return path_; }

 private:
  pid_t pid_ = -1;
  std::string path_;
};

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// IniDriver reads the line's path from the environment: one start at a time.
std::mutex g_start_mutex;

struct HostThread {
  std::atomic<bool> started{false};
  std::atomic<bool> failed{false};
  // CPU of the host thread while measured.
  double cpu_seconds = 0;
};

void Host(const Case& c, const std::string& path, int poll_ms, std::atomic<int>& phase,
          HostThread& self) {
  std::vector<uint8_t> block = ParameterBlock(2, kBaud);
  block[TK571_PDB_ENTRIES + TK571_PDB_ENTRY_TYPE_CODE] = 1;  // only controller 1
  block[TK571_PDB_CONNECT_MODE] = 1;
  std::vector<TTagInfo> defs = {testing::TagDef(kReadId, "READ1:1", 0, c.scan_ms),
                                testing::TagDef(kEnCommId, "ENCOMMLINK", 0, 1000)};
  std::vector<TTagInfo*> pointers = Pointers(defs);
  {
    std::lock_guard<std::mutex> lock(g_start_mutex);
    setenv("TK571_COM1", path.c_str(), 1);
    char* message = nullptr;
    if (!IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), block.data(), &message))
      self.failed = true;
    std::free(message);
  }
  if (c.paused && !self.failed) {
    TTagValueRec off{};
    off.TagID = kEnCommId;
    off.ValueType = TK571_VALUE_FLOAT;
    off.Value.Float = 0;
    char* message = nullptr;
    OnDataWrite(1, &off, &message);
    std::free(message);
  }
  self.started = true;
  std::vector<TTagValueRec> records(defs.size());
  double cpu_start = 0;
  int seen = 0;
  while (phase.load() < 2) {
    if (phase.load() == 1 && seen == 0) {
      cpu_start = ThreadCpuSeconds();
      seen = 1;
    }
    int32_t count = 0;
    char* message = nullptr;
    OnDataRead(&count, records.data(), &message);
    std::free(message);
    for (int32_t i = 0; i < count; ++i)
      if (records[static_cast<std::size_t>(i)].ValueType == TK571_VALUE_STRING)
        std::free(records[static_cast<std::size_t>(i)].Value.String);
    std::this_thread::sleep_for(std::chrono::milliseconds(poll_ms));
  }
  if (seen) self.cpu_seconds = ThreadCpuSeconds() - cpu_start;
  FreeDriver();
}

bool Run(const Case& c, const std::string& sim, int lines, int poll_ms, int warm_ms, int span_ms) {
  std::vector<std::unique_ptr<SimProcess>> sims;
  for (int l = 0; l < lines; ++l) {
    sims.push_back(std::make_unique<SimProcess>(sim, c.silent));
    if (sims.back()->Path().empty()) {
      std::fprintf(stderr, "%s gave no line\n", sim.c_str());
      return false;
    }
  }
  std::atomic<int> phase{0};
  std::vector<HostThread> hosts(static_cast<std::size_t>(lines));
  std::vector<std::thread> threads;
  for (int l = 0; l < lines; ++l)
    threads.emplace_back(Host, std::cref(c), std::cref(sims[static_cast<std::size_t>(l)]->Path()),
                         poll_ms, std::ref(phase), std::ref(hosts[static_cast<std::size_t>(l)]));
  for (const HostThread& h : hosts)
    while (!h.started) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(warm_ms));
  phase = 1;
  const double cpu_before = ProcessCpuSeconds();
  const auto wall_before = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(span_ms));
  const double cpu = ProcessCpuSeconds() - cpu_before;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
  phase = 2;
  for (std::thread& t : threads) t.join();
  double host_cpu = 0;
  bool failed = false;
  for (const HostThread& h : hosts) {
    host_cpu += h.cpu_seconds;
    failed = failed || h.failed;
  }
  std::printf("  %-8s  %5d  %7d  %12.2f  %14.2f%s\n", c.name.c_str(), lines, poll_ms,
              100.0 * cpu / wall, 100.0 * (cpu - host_cpu) / wall,
              failed ? "  (a start failed)" : "");
  return !failed;
}

}  // namespace
}  // namespace tk571::bench

int main(int argc, char** argv) {
  using namespace tk571::bench;
  std::string sim = TK571_SIM_PROGRAM;
  int lines = 16;
  int span_ms = 5000;
  int warm_ms = 2000;
  int poll_ms = 100;
  const std::vector<Case> all = {
      {"paused", 100, false, true}, {"backoff", 1000, true, false}, {"polling", 10, false, false}};
  std::vector<Case> cases;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&](const char* key) -> const char* {
      const std::size_t n = std::strlen(key);
      return arg.compare(0, n, key) == 0 ? argv[i] + n : nullptr;
    };
    if (const char* v = value("--sim=")) {
      sim = v;
    } else if (const char* v = value("--lines=")) {
      lines = std::atoi(v);
    } else if (const char* v = value("--span-ms=")) {
      span_ms = std::atoi(v);
    } else if (const char* v = value("--warm-ms=")) {
      warm_ms = std::atoi(v);
    } else if (const char* v = value("--poll-ms=")) {
      poll_ms = std::atoi(v);
    } else if (const char* v = value("--case=")) {
      for (const Case& c : all)
        if (c.name == v) cases.push_back(c);
    } else {
      std::fprintf(stderr,
                   "usage: %s [--sim=PATH] [--lines=N] [--span-ms=N] [--warm-ms=N] "
                   "[--poll-ms=N] [--case=paused|backoff|polling ...]\n",
                   argv[0]);
      return 1;
    }
  }
  if (cases.empty()) cases = all;
  std::printf("Idle cost: CPU of the driver's process (simulators in processes of their own)\n");
  std::printf("as %% of one core; the host polls each object every poll ms.\n");
  std::printf("  %-8s  %5s  %7s  %12s  %14s\n", "case", "lines", "poll ms", "process CPU",
              "outside hosts");
  bool ok = true;
  for (const Case& c : cases) ok = Run(c, sim, lines, poll_ms, warm_ms, span_ms) && ok;
  return ok ? 0 : 1;
}
