// The gateway's journal: what a batch and an audit entry cost to write
// (each its own transaction, synchronous = FULL as the gateway runs it), the
// size of the database per 100 000 batches with fill curves at the demo's
// sampling rate, and the time of the reports over one month of 8 devices at
// one batch a minute. Figures, not a test: they depend on the disk.
//
//   tk571_journal_bench [--dir DIR] [--writes N] [--devices N] [--days N]
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "audit_trail.h"
#include "batch_journal.h"
#include "journal_db.h"
#include "journal_report.h"

namespace {

using namespace tk571::gateway;
using Clock = std::chrono::steady_clock;

// The demo plant: the weight read every 200 ms over a batch of about 12.4 s
// (scripts/demo.sh's recipe at its feed rates).
constexpr int kCurvePoints = 62;
constexpr int64_t kSampleMs = 200;
constexpr int64_t kMinuteMs = 60 * 1000;

BatchRecord DemoBatch(const std::string& device, int64_t ended_ms) {
  BatchRecord b;
  b.device = device;
  b.device_number = 1;
  b.ended_ms = ended_ms;
  b.started_ms = ended_ms - kCurvePoints * kSampleMs;
  b.origin =
      BatchOrigin{"run", WriteSource{"tk571/devices/" + device + "/controls/run/on", "", ""}};
  const double targets[] = {120, 80, 60, 40};
  for (int m = 1; m <= 4; ++m) {
    MaterialResult r;
    r.material = m;
    r.final_sp = targets[m - 1];
    r.coarse_sp = targets[m - 1] / 10;
    r.fine_sp = 1;
    r.amount = targets[m - 1] + 0.03 * m;
    r.deviation = 0.03 * m;
    r.tolerance = 0.5;
    r.verdict = Verdict::kIn;
    b.materials.push_back(r);
  }
  for (int i = 0; i < kCurvePoints; ++i) {
    b.curve.push_back(
        CurvePoint{*b.started_ms + i * kSampleMs, 300.0 * i / kCurvePoints + 0.01 * (i % 7)});
  }
  return b;
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = std::filesystem::temp_directory_path();
  int writes = 500;
  int devices = 8;
  int days = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--dir") dir = argv[i + 1];
    if (name == "--writes") writes = std::atoi(argv[i + 1]);
    if (name == "--devices") devices = std::atoi(argv[i + 1]);
    if (name == "--days") days = std::atoi(argv[i + 1]);
  }
  const std::string path = dir + "/tk571-journal-bench.db";
  const auto remove = [&] {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  };
  remove();
  {
    JournalDb db(path);
    BatchJournal batches(db);
    AuditTrail audit(db);
    Clock::time_point start = Clock::now();
    for (int i = 0; i < writes; ++i) {
      BatchRecord b = DemoBatch("scale1", 1'000'000 + i * kMinuteMs);
      batches.Add(&b);
    }
    std::printf(
        "journal: %.3f ms per batch (%d points of curve, one transaction, synchronous FULL)\n",
        Seconds(start) * 1000 / writes, kCurvePoints);
    start = Clock::now();
    for (int i = 0; i < writes; ++i) {
      WriteEvent e;
      e.at_ms = 1'000'000 + i;
      e.device = "scale1";
      e.control = "f1";
      e.before = "120";
      e.after = "121";
      e.source.topic = "tk571/devices/scale1/controls/f1/on";
      e.outcome = WriteOutcome::kQueued;
      audit.Append(e);
    }
    std::printf("audit trail: %.3f ms per entry (SHA-256 chained, one transaction)\n",
                Seconds(start) * 1000 / writes);
    start = Clock::now();
    const VerifyResult verified = audit.Verify();
    std::printf("verify: %.3f ms per entry (%s)\n", Seconds(start) * 1000 / writes,
                verified.text.c_str());
  }
  remove();
  const int64_t month_start = 1'796'083'200'000;  // 2026-12-01T00:00Z
  const int per_device = days * 24 * 60;
  {
    JournalDb db(path);
    BatchJournal batches(db);
    // Filling is not what is measured; the size does not depend on it.
    db.Exec("PRAGMA synchronous = OFF");
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < per_device; ++i) {
      for (int d = 1; d <= devices; ++d) {
        BatchRecord b = DemoBatch("scale" + std::to_string(d), month_start + i * kMinuteMs + d);
        batches.Add(&b);
      }
    }
    db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    const int total = per_device * devices;
    std::printf("filled %d batches in %.1f s\n", total, Seconds(start));
    std::printf("database: %.1f MB per 100 000 batches (%.0f bytes per batch)\n",
                FileSize(path) * 100000.0 / total / 1e6,
                static_cast<double>(FileSize(path)) / total);
  }
  {
    JournalDb db(path);
    BatchJournal batches(db);
    const int64_t month_end = month_start + int64_t{days} * 24 * 60 * kMinuteMs;
    Clock::time_point start = Clock::now();
    const std::vector<BatchRecord> month = batches.Ended(month_start, month_end, "");
    const double query_s = Seconds(start);
    start = Clock::now();
    const std::string csv = BatchReport(month, ReportFormat::kCsv);
    const double csv_s = Seconds(start);
    start = Clock::now();
    const std::string totals =
        TotalsReport(month, TotalsPeriod::kShift, {6 * 60, 14 * 60, 22 * 60}, ReportFormat::kCsv);
    const double totals_s = Seconds(start);
    std::printf(
        "report of %zu batches (%d devices, %d days): query %.2f s, CSV %.2f s (%.0f MB), "
        "shift totals %.2f s\n",
        month.size(), devices, days, query_s, csv_s, csv.size() / 1e6, totals_s);
  }
  remove();
  return 0;
}
