// The reports of the batch journal: the batches of a time span, one line per
// material (CSV) or one object per batch (JSON), and the totals per period,
// device and material.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "batch_record.h"

namespace tk571::gateway {

enum class ReportFormat { kCsv, kJson };
enum class TotalsPeriod { kShift, kDay, kMonth };

std::string BatchReport(const std::vector<BatchRecord>& batches, ReportFormat format);

// The local start of the period that holds `at_ms`, as its label:
// "2026-12-10 06:00" (shift), "2026-12-10" (day), "2026-12" (month).
// `shift_starts`: minutes after local midnight, sorted.
std::string PeriodOf(int64_t at_ms, TotalsPeriod period, const std::vector<int>& shift_starts);

// Batches counted by the period in which they ended.
std::string TotalsReport(const std::vector<BatchRecord>& batches, TotalsPeriod period,
                         const std::vector<int>& shift_starts, ReportFormat format);

}  // namespace tk571::gateway
