#include "journal_commands.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>

#include "audit_trail.h"
#include "batch_journal.h"
#include "fill_plot.h"
#include "gateway_config.h"
#include "journal_db.h"
#include "journal_report.h"
#include "time_text.h"

namespace tk571::gateway {

const char* const kJournalUsage =
    "       tk571-gateway report --config FILE [--from TIME] [--to TIME] [--device D]\n"
    "                            [--format csv|json] [--totals shift|day|month]\n"
    "       tk571-gateway report --config FILE --batch N --plot FILE.svg\n"
    "       tk571-gateway verify --config FILE\n"
    "  TIME: 2026-12-08, 2026-12-08T06:00 (local) or ...Z (UTC); the span is [--from, --to)\n";

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int Usage(const std::string& why) {
  std::cerr << "tk571-gateway: " << why << "\nusage:\n" << kJournalUsage;
  return kExitUsage;
}

int Report(JournalDb& db, const JournalConfig& journal, std::map<std::string, std::string>& opt) {
  BatchJournal batches(db);
  if (opt.count("--batch") != 0 || opt.count("--plot") != 0) {
    if (opt["--batch"].empty() || opt["--plot"].empty()) {
      return Usage("--batch N and --plot FILE.svg go together");
    }
    const std::optional<BatchRecord> batch = batches.ById(std::atoll(opt["--batch"].c_str()));
    if (!batch) {
      std::cerr << "tk571-gateway: no batch " << opt["--batch"] << " in " << db.Path() << std::endl;
      return kExitFailure;
    }
    std::ofstream out(opt["--plot"], std::ios::binary);
    out << FillPlotSvg(*batch);
    if (!out.flush()) {
      std::cerr << "tk571-gateway: cannot write " << opt["--plot"] << std::endl;
      return kExitFailure;
    }
    return kExitOk;
  }
  const std::optional<int64_t> from =
      ParseTime(opt.count("--from") ? opt["--from"] : "1970-01-01Z");
  const std::optional<int64_t> to =
      opt.count("--to") ? ParseTime(opt["--to"]) : std::optional<int64_t>(NowMs() + 1);
  if (!from || !to) return Usage("a time is YYYY-MM-DD[THH:MM[:SS]][Z]");
  const std::string format = opt.count("--format") ? opt["--format"] : "csv";
  if (format != "csv" && format != "json") return Usage("--format is csv or json");
  const ReportFormat f = format == "json" ? ReportFormat::kJson : ReportFormat::kCsv;
  const std::vector<BatchRecord> found = batches.Ended(*from, *to, opt["--device"]);
  if (opt.count("--totals") == 0) {
    std::cout << BatchReport(found, f);
    return kExitOk;
  }
  const std::map<std::string, TotalsPeriod> periods = {{"shift", TotalsPeriod::kShift},
                                                       {"day", TotalsPeriod::kDay},
                                                       {"month", TotalsPeriod::kMonth}};
  const auto period = periods.find(opt["--totals"]);
  if (period == periods.end()) return Usage("--totals is shift, day or month");
  std::cout << TotalsReport(found, period->second, journal.shift_starts, f);
  return kExitOk;
}

}  // namespace

int RunJournalCommand(const std::vector<std::string>& args) {
  const std::string& command = args.front();
  std::map<std::string, std::string> opt;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i].rfind("--", 0) != 0 || i + 1 >= args.size()) {
      return Usage("unknown option " + args[i]);
    }
    opt[args[i]] = args[i + 1];
    ++i;
  }
  static const std::map<std::string, std::vector<std::string>> kKnown = {
      {"report",
       {"--config", "--from", "--to", "--device", "--format", "--totals", "--batch", "--plot"}},
      {"verify", {"--config"}}};
  for (const auto& [name, value] : opt) {
    const std::vector<std::string>& known = kKnown.at(command);
    if (std::find(known.begin(), known.end(), name) == known.end()) {
      return Usage("unknown option " + name + " of " + command);
    }
  }
  if (opt["--config"].empty()) return Usage("--config FILE is needed");
  const ConfigResult config = LoadConfig(opt["--config"]);
  if (!config.errors.empty()) {
    for (const std::string& e : config.errors)
      std::cerr << "tk571-gateway: " << opt["--config"] << ": " << e << std::endl;
    return kExitUsage;
  }
  try {
    JournalDb db(JournalPath(config.config.journal));
    if (command == "report") return Report(db, config.config.journal, opt);
    const VerifyResult result = AuditTrail(db).Verify();
    std::cout << result.text << std::endl;
    return result.good ? kExitOk : kExitFailure;
  } catch (const JournalError& e) {
    std::cerr << "tk571-gateway: " << e.what() << std::endl;
    return kExitFailure;
  }
}

}  // namespace tk571::gateway
