#include "batch_quality.h"

#include <cmath>

namespace tk571::gateway {

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kIn:
      return "in";
    case Verdict::kOut:
      return "out";
    case Verdict::kNone:
      break;
  }
  return "none";
}

Verdict VerdictOf(const std::string& text) {
  if (text == "in") return Verdict::kIn;
  if (text == "out") return Verdict::kOut;
  return Verdict::kNone;
}

void Evaluate(const Tolerances& tolerances, BatchRecord* batch) {
  for (MaterialResult& m : batch->materials) {
    m.deviation.reset();
    m.tolerance.reset();
    m.verdict = Verdict::kNone;
    if (!m.amount || !m.final_sp) continue;
    // To the gram: the controller shows 0.01 kg; the rest is binary noise.
    m.deviation = std::round((*m.amount - *m.final_sp) * 1000.0) / 1000.0;
    const auto found = tolerances.find(m.material);
    if (found == tolerances.end()) continue;
    const Tolerance& t = found->second;
    m.tolerance = t.percent ? std::abs(*m.final_sp) * t.value / 100.0 : t.value;
    // The controller shows amounts to 0.01 kg; a deviation on the boundary
    // counts as in, whatever the binary rounding of the difference.
    m.verdict = std::abs(*m.deviation) <= *m.tolerance + 1e-9 ? Verdict::kIn : Verdict::kOut;
  }
}

bool InTolerance(const BatchRecord& batch) {
  for (const MaterialResult& m : batch.materials) {
    if (m.verdict == Verdict::kOut) return false;
  }
  return true;
}

std::vector<FineAdvice> SuggestFine(const std::vector<BatchRecord>& newest_first) {
  std::map<int, FineAdvice> advice;
  std::map<int, double> sums;
  for (const BatchRecord& batch : newest_first) {
    for (const MaterialResult& m : batch.materials) {
      if (!m.deviation || !m.fine_sp) continue;
      FineAdvice& a = advice[m.material];
      if (a.batches == 0) {
        a.material = m.material;
        a.fine = *m.fine_sp;
      }
      ++a.batches;
      sums[m.material] += *m.deviation;
    }
  }
  std::vector<FineAdvice> result;
  for (auto& [material, a] : advice) {
    // More landed than the target: the feed must close earlier, so FINE
    // grows by the mean overshoot (to the controller's 0.01 kg).
    a.suggested = std::round((a.fine + sums[material] / a.batches) * 100.0) / 100.0;
    if (a.suggested < 0) a.suggested = 0;
    result.push_back(a);
  }
  return result;
}

}  // namespace tk571::gateway
