#include "journal_report.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <tuple>

#include "batch_json.h"
#include "batch_quality.h"
#include "time_text.h"
#include "topics.h"

namespace tk571::gateway {
namespace {

using nlohmann::json;

std::string Cell(const std::optional<double>& value) {
  return value ? NumberText(*value) : std::string();
}

// Text cells may hold commas or quotes (a client id, a topic).
std::string Quoted(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

std::string LocalText(const std::tm& t, const char* format) {
  char text[32];
  std::strftime(text, sizeof text, format, &t);
  return text;
}

}  // namespace

std::string BatchReport(const std::vector<BatchRecord>& batches, ReportFormat format) {
  if (format == ReportFormat::kJson) {
    json all = json::array();
    for (const BatchRecord& b : batches) all.push_back(BatchJson(b));
    return all.dump(2) + "\n";
  }
  std::string csv =
      "batch,device,sequence,started,ended,started_by,user,material,target,coarse,fine,amount,"
      "deviation,tolerance,verdict\n";
  for (const BatchRecord& b : batches) {
    const std::string head =
        std::to_string(b.id) + "," + Quoted(b.device) + "," + std::to_string(b.sequence) + "," +
        (b.started_ms ? UtcText(*b.started_ms) : std::string()) + "," + UtcText(b.ended_ms) + "," +
        Quoted(b.origin.control) + "," + Quoted(b.origin.source.user);
    for (const MaterialResult& m : b.materials) {
      csv += head + "," + std::to_string(m.material) + "," + Cell(m.final_sp) + "," +
             Cell(m.coarse_sp) + "," + Cell(m.fine_sp) + "," + Cell(m.amount) + "," +
             Cell(m.deviation) + "," + Cell(m.tolerance) + "," + VerdictText(m.verdict) + "\n";
    }
  }
  return csv;
}

std::string PeriodOf(int64_t at_ms, TotalsPeriod period, const std::vector<int>& shift_starts) {
  const std::time_t seconds = static_cast<std::time_t>(at_ms / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  if (period == TotalsPeriod::kMonth) return LocalText(local, "%Y-%m");
  if (period == TotalsPeriod::kDay) return LocalText(local, "%Y-%m-%d");
  const int minute = local.tm_hour * 60 + local.tm_min;
  int start = -1;
  for (int s : shift_starts) {
    if (s <= minute) start = s;
  }
  if (start < 0) {
    // Before the first start of the day: the last shift of the day before.
    start = shift_starts.back();
    local.tm_mday -= 1;
  }
  local.tm_hour = start / 60;
  local.tm_min = start % 60;
  local.tm_sec = 0;
  local.tm_isdst = -1;
  std::mktime(&local);
  return LocalText(local, "%Y-%m-%d %H:%M");
}

std::string TotalsReport(const std::vector<BatchRecord>& batches, TotalsPeriod period,
                         const std::vector<int>& shift_starts, ReportFormat format) {
  struct Sum {
    int batches = 0;
    double amount = 0;
    double target = 0;
    int out = 0;
  };
  std::map<std::tuple<std::string, std::string, int>, Sum> sums;
  for (const BatchRecord& b : batches) {
    const std::string label = PeriodOf(b.ended_ms, period, shift_starts);
    for (const MaterialResult& m : b.materials) {
      Sum& sum = sums[{label, b.device, m.material}];
      ++sum.batches;
      sum.amount += m.amount.value_or(0);
      sum.target += m.final_sp.value_or(0);
      if (m.verdict == Verdict::kOut) ++sum.out;
    }
  }
  const auto round = [](double kg) { return std::round(kg * 100.0) / 100.0; };
  if (format == ReportFormat::kJson) {
    json all = json::array();
    for (const auto& [key, sum] : sums) {
      all.push_back({{"period", std::get<0>(key)},
                     {"device", std::get<1>(key)},
                     {"material", std::get<2>(key)},
                     {"batches", sum.batches},
                     {"amount", round(sum.amount)},
                     {"target", round(sum.target)},
                     {"out_of_tolerance", sum.out}});
    }
    return all.dump(2) + "\n";
  }
  std::string csv = "period,device,material,batches,amount,target,out_of_tolerance\n";
  for (const auto& [key, sum] : sums) {
    csv += std::get<0>(key) + "," + Quoted(std::get<1>(key)) + "," +
           std::to_string(std::get<2>(key)) + "," + std::to_string(sum.batches) + "," +
           NumberText(round(sum.amount)) + "," + NumberText(round(sum.target)) + "," +
           std::to_string(sum.out) + "\n";
  }
  return csv;
}

}  // namespace tk571::gateway
