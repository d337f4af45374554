// Line efficiency: READ exchanges per second that the driver achieves when a
// host polls OnDataRead at the driver's scan time, divided by the most the
// line allows.
//
// The controllers are simulated on a pseudo-terminal; the simulator paces
// every character as the baud rate and character format make it take and
// answers each request after its turnaround. The exchanges are counted in the
// simulator's trace: READ requests answered with a complete reading line.
//
// The most the line allows, per READ exchange:
//   one controller:  (len("READ" CR LF) + len(reading line)) x character time
//                    + turnaround
//   N controllers, polled in turn: the device changes at every exchange, and
//   the controller answers only after it has been selected, so each READ also
//   needs its select exchange: + (len(ENQ "ID" nn CR LF) + len(ACK nn CR LF))
//                    x character time + turnaround.
//
// Every READ tag has a scan period of 0, so a READ command is always due and
// only the line and the polling limit the rate. The host polls on a fixed
// cadence (each poll is due one period after the previous one was due), the
// way a host timer at the scan time calls the driver.
//
// Usage: tk571_line_bench [--span-ms=N] [--quick] [--trace]
//                         [--case=baud/controllers/poll_ms ...]  (poll_ms 0: DetectScanTime)
//                         [--lines=N]  (N driver objects, each on its own line, at once)
//                         [--setm]     (a LOAD_SETM with status queries running)
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "e2e/plant_host.h"
#include "protocol/selected_device.h"

namespace tk571::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadRequestLength = 6;    // "READ" CR LF
constexpr std::size_t kReadingLength = 18;       // "ST,GS,+0012.50kg" CR LF
constexpr std::size_t kSelectRequestLength = 7;  // ENQ "ID" nn CR LF
constexpr std::size_t kSelectAnswerLength = 5;   // ACK nn CR LF

struct Case {
  int baud;
  int controllers;
  // The host's poll period in ms; 0: DetectScanTime, as a host does.
  int poll_ms;
};

struct Outcome {
  bool ok = false;
  int period_ms = 0;
  int exchanges = 0;
  int unanswered = 0;
  int selects = 0;
  int polls = 0;
  // Requests sent while the previous answer was still on the line.
  int early = 0;
  // Controllers whose value never reached the host.
  int no_value = 0;
  double achieved_per_s = 0;
  double limit_per_s = 0;
  // From the end of an answer to the start of the next request, in ms.
  double gap_median_ms = 0;
  double gap_p99_ms = 0;
  // Wall time of one OnDataRead (with the host's handling of its records).
  double read_p999_us = 0;
  double read_max_us = 0;
  double efficiency() const { return limit_per_s > 0 ? achieved_per_s / limit_per_s : 0; }
};

void SelectControllers(std::vector<uint8_t>& block, int controllers) {
  for (int d = 1; d <= controllers; ++d) {
    uint8_t* entry = &block[TK571_PDB_ENTRIES + static_cast<std::size_t>(d) * TK571_PDB_ENTRY_SIZE];
    entry[TK571_PDB_ENTRY_TYPE_CODE] = 0;
    entry[TK571_PDB_ENTRY_TYPE_NAME] = 5;
    std::memcpy(entry + TK571_PDB_ENTRY_TYPE_NAME + 1, "TK571", 5);
  }
}

// The value below which the share `q` of the sorted figures lies.
double Quantile(std::vector<double> figures, double q) {
  if (figures.empty()) return 0;
  std::sort(figures.begin(), figures.end());
  const auto at = static_cast<std::size_t>(q * static_cast<double>(figures.size() - 1) + 0.5);
  return figures[std::min(at, figures.size() - 1)];
}

double Micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// Polls on a fixed cadence for `span`; returns the number of polls. The wall
// time of each poll goes to `poll_us` when given.
int PollFor(testing::PlantHost& host, int period_ms, Clock::duration span,
            std::vector<double>* poll_us = nullptr) {
  const auto period = std::chrono::milliseconds(period_ms);
  const auto end = Clock::now() + span;
  auto due = Clock::now();
  int polls = 0;
  while (due < end) {
    const auto before = Clock::now();
    host.PollOnce();
    if (poll_us) poll_us->push_back(Micros(Clock::now() - before));
    ++polls;
    due += period;
    std::this_thread::sleep_until(due);
  }
  return polls;
}

bool g_print_trace = false;

// Starts of several driver objects at once set the environment one at a time.
std::mutex g_start_mutex;

Outcome Measure(const Case& c, std::chrono::milliseconds span) {
  Outcome out;
  sim::LineSettings settings = testing::SimSettings();  // 7 data bits, even parity, 1 stop bit
  settings.baud = c.baud;
  sim::Line line(settings);
  std::vector<TTagInfo> defs;
  for (int d = 1; d <= c.controllers; ++d) {
    line.AddController(d);
    line.WithController(
        d, [d](sim::Controller& controller, auto) { controller.SetGrossWeight(10.0 * d + 0.25); });
    defs.push_back(testing::TagDef(static_cast<uint32_t>(d), "READ" + std::to_string(d) + ":1", 0,
                                   /*scan_ms=*/0));
  }
  std::unique_lock<std::mutex> starting(g_start_mutex);
  testing::PlantHost host(line, {});
  SelectControllers(host.Block(), c.controllers);
  host.Block()[TK571_PDB_BAUD_INDEX] = BaudIndex(c.baud);
  if (!host.Start(defs)) {
    std::fprintf(stderr, "IniDriver failed\n");
    return out;
  }
  starting.unlock();
  out.period_ms = c.poll_ms > 0 ? c.poll_ms : DetectScanTime();

  // Warm up until every controller has been read once, or for a second.
  const auto all_reported = [&] {
    for (const auto& d : defs)
      if (!host.Has(d.TagID)) return false;
    return true;
  };
  const auto warm_end = Clock::now() + std::chrono::seconds(1);
  while (!all_reported() && Clock::now() < warm_end)
    PollFor(host, out.period_ms, std::chrono::milliseconds(50));
  const std::size_t first_entry = line.Trace().size();
  std::vector<double> poll_us;
  out.polls = PollFor(host, out.period_ms, span, &poll_us);
  out.read_p999_us = Quantile(poll_us, 0.999);
  out.read_max_us = Quantile(poll_us, 1.0);
  const std::vector<sim::TraceEntry> trace = line.Trace();
  if (g_print_trace) std::printf("%s\n", line.TraceText(true).c_str());
  for (const auto& d : defs)
    if (!host.Has(d.TagID)) ++out.no_value;

  // Answered READ requests: a reading line follows before the next request.
  // A request that starts before the previous answer has ended means the
  // driver took an incomplete answer for a complete one.
  const double character = sim::CharacterSeconds(settings);
  const auto character_us = std::chrono::microseconds(static_cast<int64_t>(character * 1e6));
  std::vector<std::chrono::microseconds> starts;
  std::vector<double> gaps_ms;
  std::chrono::microseconds answer_end{0};
  for (std::size_t i = first_entry; i < trace.size(); ++i) {
    const sim::TraceEntry& e = trace[i];
    if (e.direction == sim::Direction::kFromController) {
      answer_end = e.at + character_us * static_cast<int64_t>(e.bytes.size());
      continue;
    }
    if (e.at < answer_end) ++out.early;
    if (i > first_entry && trace[i - 1].direction == sim::Direction::kFromController)
      gaps_ms.push_back(Micros(e.at - answer_end) / 1000.0);
    if (e.bytes.size() == kSelectRequestLength && e.bytes[0] == '\x05') ++out.selects;
    if (e.bytes != "READ\r\n") continue;
    const bool answered =
        i + 1 < trace.size() && trace[i + 1].direction == sim::Direction::kFromController &&
        trace[i + 1].bytes.size() == kReadingLength && trace[i + 1].bytes.ends_with("\r\n");
    // The last request may still be waiting for its answer.
    const bool in_flight = i + 2 >= trace.size();
    if (answered) {
      starts.push_back(e.at);
    } else if (!in_flight) {
      ++out.unanswered;
    }
  }
  if (starts.size() < 3) {
    std::fprintf(stderr, "too few exchanges\n");
    return out;
  }
  // From the start of the first exchange to the start of the last: a whole
  // number of exchange cycles, with no partial cycle at either end.
  out.exchanges = static_cast<int>(starts.size()) - 1;
  out.gap_median_ms = Quantile(gaps_ms, 0.5);
  out.gap_p99_ms = Quantile(gaps_ms, 0.99);
  const double seconds = std::chrono::duration<double>(starts.back() - starts.front()).count();
  out.achieved_per_s = out.exchanges / seconds;

  const double turnaround = std::chrono::duration<double>(settings.turnaround).count();
  double per_exchange = (kReadRequestLength + kReadingLength) * character + turnaround;
  if (c.controllers > 1)
    per_exchange += (kSelectRequestLength + kSelectAnswerLength) * character + turnaround;
  out.limit_per_s = 1.0 / per_exchange;
  out.ok = true;
  return out;
}

// A LOAD_SETM of twelve set-points on one controller at 9600 baud, while its
// READ and the status queries of its four ENQ tags run and the host polls
// every 10 ms: the wall time of every OnDataRead and OnDataWrite, and the
// time from the LOAD_SETM write until the host sees it confirmed.
void MeasureSetm() {
  ResetSelectedDevices();
  sim::LineSettings settings = testing::SimSettings(9600);
  sim::Line line(settings);
  line.AddController(1);
  line.WithController(1, [](sim::Controller& controller, auto) { controller.SetGrossWeight(2.5); });
  std::vector<TTagInfo> defs{testing::TagDef(1, "READ1:1", 0, 0)};
  for (int m = 1; m <= 4; ++m) {
    const std::string ch = "1:" + std::to_string(m);
    defs.push_back(testing::TagDef(static_cast<uint32_t>(1 + m), "ENQ" + ch, 0, 0));
    defs.push_back(testing::TagDef(static_cast<uint32_t>(10 + m), "M_FINAL" + ch));
    defs.push_back(testing::TagDef(static_cast<uint32_t>(20 + m), "M_COARSE" + ch));
    defs.push_back(testing::TagDef(static_cast<uint32_t>(30 + m), "M_FINE" + ch));
  }
  constexpr uint32_t kLoad = 40;
  defs.push_back(testing::TagDef(kLoad, "LOAD_SETM1:1", TK571_VALUE_BOOL));
  testing::PlantHost host(line, {1});
  host.Block()[TK571_PDB_BAUD_INDEX] = BaudIndex(9600);
  if (!host.Start(defs) || !host.PollUntil([&] { return host.Has(1); })) {
    std::printf("LOAD_SETM: the driver did not start\n");
    return;
  }
  std::vector<double> read_us;
  std::vector<double> write_us;
  const auto timed_write = [&](uint32_t id, double value, uint8_t type) {
    const auto before = Clock::now();
    host.Write(id, value, type);
    write_us.push_back(Micros(Clock::now() - before));
  };
  for (int m = 1; m <= 4; ++m) {
    timed_write(static_cast<uint32_t>(10 + m), 100.0 * m + 50, TK571_VALUE_FLOAT);
    timed_write(static_cast<uint32_t>(20 + m), 100.0 * m, TK571_VALUE_FLOAT);
    timed_write(static_cast<uint32_t>(30 + m), m, TK571_VALUE_FLOAT);
  }
  const auto start = Clock::now();
  timed_write(kLoad, 1, TK571_VALUE_BOOL);
  double load_ms = -1;
  auto due = Clock::now();
  while (Clock::now() - start < std::chrono::seconds(10)) {
    const auto before = Clock::now();
    host.PollOnce();
    read_us.push_back(Micros(Clock::now() - before));
    if (load_ms < 0 && host.Number(kLoad) == 1.0) {
      load_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      break;
    }
    // A write at every tenth poll keeps OnDataWrite in the figures while
    // the dialogue runs (a value that differs each time, so it is queued).
    if (read_us.size() % 10 == 0)
      timed_write(11, 150.0 + static_cast<double>(read_us.size() % 20), TK571_VALUE_FLOAT);
    due += std::chrono::milliseconds(10);
    std::this_thread::sleep_until(due);
  }
  std::printf(
      "\nLOAD_SETM at 9600 baud, READ and four ENQ tags running, host polling every 10 ms\n");
  std::printf("  LOAD_SETM from its write to the host's confirmation: %.0f ms\n", load_ms);
  std::printf("  OnDataRead  p99.9 %.1f us, max %.1f us over %zu calls\n", Quantile(read_us, 0.999),
              Quantile(read_us, 1.0), read_us.size());
  std::printf("  OnDataWrite p99.9 %.1f us, max %.1f us over %zu calls\n",
              Quantile(write_us, 0.999), Quantile(write_us, 1.0), write_us.size());
}

// CPU time of the whole process (driver, host threads and the simulator).
double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace
}  // namespace tk571::bench

int main(int argc, char** argv) {
  using namespace tk571::bench;
  int span_ms = 4000;
  bool quick = false;
  int lines = 0;
  bool setm = false;
  std::vector<Case> chosen;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--span-ms=", 10) == 0) {
      span_ms = std::atoi(argv[i] + 10);
    } else if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strncmp(argv[i], "--lines=", 8) == 0) {
      lines = std::atoi(argv[i] + 8);
    } else if (std::strcmp(argv[i], "--setm") == 0) {
      setm = true;
    } else if (std::strcmp(argv[i], "--trace") == 0) {
      g_print_trace = true;
    } else if (std::strncmp(argv[i], "--case=", 7) == 0) {
      Case c{};
      if (std::sscanf(argv[i] + 7, "%d/%d/%d", &c.baud, &c.controllers, &c.poll_ms) != 3) {
        std::fprintf(stderr, "--case=baud/controllers/poll_ms (0: DetectScanTime)\n");
        return 1;
      }
      chosen.push_back(c);
    } else {
      std::fprintf(stderr, "usage: %s [--span-ms=N] [--quick] [--trace] [--case=B/C/P ...]\n",
                   argv[0]);
      return 1;
    }
  }
  if (quick) span_ms = 500;
  if (setm) {
    MeasureSetm();
    return 0;
  }
  if (lines > 0) {
    // Each driver object on a line of its own, one controller at 9600 baud,
    // its host thread polling every 10 ms.
    tk571::ResetSelectedDevices();
    std::vector<Outcome> outcomes(static_cast<std::size_t>(lines));
    const double cpu_before = ProcessCpuSeconds();
    const auto wall_before = Clock::now();
    std::vector<std::thread> hosts;
    for (int l = 0; l < lines; ++l)
      hosts.emplace_back([&, l] {
        outcomes[static_cast<std::size_t>(l)] =
            Measure({9600, 1, 10}, std::chrono::milliseconds(span_ms));
      });
    for (std::thread& t : hosts) t.join();
    const double cpu = ProcessCpuSeconds() - cpu_before;
    const double wall = std::chrono::duration<double>(Clock::now() - wall_before).count();
    std::vector<double> efficiencies;
    for (const Outcome& o : outcomes)
      if (o.ok) efficiencies.push_back(o.efficiency());
    std::printf(
        "%d driver objects, each on its own line (9600 baud, 1 controller, polled every "
        "10 ms)\n",
        lines);
    std::printf("  efficiency min %.3f, median %.3f, max %.3f (%zu lines measured)\n",
                Quantile(efficiencies, 0), Quantile(efficiencies, 0.5), Quantile(efficiencies, 1),
                efficiencies.size());
    std::printf("  process CPU %.1f %% of one core (simulator included)\n", 100.0 * cpu / wall);
    return efficiencies.size() == static_cast<std::size_t>(lines) ? 0 : 1;
  }

  std::vector<Case> cases;
  for (const int baud : {9600, 115200})
    for (const int controllers : {1, 8})
      for (const int poll_ms : {0, 100}) cases.push_back({baud, controllers, poll_ms});
  if (!chosen.empty()) cases = chosen;

  std::printf("Line efficiency: READ exchanges per second, divided by the most the line\n");
  std::printf("allows (7 data bits, even parity, 1 stop bit; turnaround 5 ms; with 8\n");
  std::printf("controllers each READ needs its select exchange), the host polling at\n");
  std::printf("DetectScanTime (10 ms) and every 100 ms. early: requests sent while the previous\n");
  std::printf("answer was still arriving; no value: controllers never reported to the host;\n");
  std::printf("gap: end of an answer to the next request (ms); read: OnDataRead wall time.\n");
  std::printf("  %6s  %5s  %7s  %9s  %9s  %9s  %10s  %7s  %10s  %5s  %8s  %8s  %8s  %12s\n", "baud",
              "ctrls", "poll ms", "exchanges", "per s", "limit/s", "efficiency", "selects",
              "polls/exch", "early", "no value", "gap med", "gap p99", "read p99.9 us");
  bool failed = false;
  std::string goal;
  for (const Case& c : cases) {
    // Each run is a new line: no controller on it is selected yet.
    tk571::ResetSelectedDevices();
    const Outcome o = Measure(c, std::chrono::milliseconds(span_ms));
    if (!o.ok) {
      std::printf("  %6d  %5d  %7d  failed\n", c.baud, c.controllers, c.poll_ms);
      failed = true;
      continue;
    }
    std::printf(
        "  %6d  %5d  %7d  %9d  %9.2f  %9.2f  %10.3f  %7d  %10.2f  %5d  %8d  %8.2f  %8.2f  "
        "%12.1f%s\n",
        c.baud, c.controllers, o.period_ms, o.exchanges, o.achieved_per_s, o.limit_per_s,
        o.efficiency(), o.selects, static_cast<double>(o.polls) / (o.exchanges + 1), o.early,
        o.no_value, o.gap_median_ms, o.gap_p99_ms, o.read_p999_us,
        o.unanswered ? "  (unanswered READs)" : "");
    char line[200];
    std::snprintf(line, sizeof(line),
                  "  goal, 0.90 or more at %d baud, %d controller%s, polled every %d ms: %.3f, "
                  "%s%s\n",
                  c.baud, c.controllers, c.controllers > 1 ? "s" : "", o.period_ms, o.efficiency(),
                  o.efficiency() >= 0.90 ? "met" : "NOT met",
                  o.early ? " (but answers were taken before they had ended)" : "");
    goal += line;
  }
  std::printf("%s", goal.c_str());
  // A missed goal is a figure to read, not a failure; a run that could not
  // measure is.
  return failed ? 1 : 0;
}
