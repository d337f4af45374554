// How good a batch was: the deviation of each material from its target, the
// verdict against the plant's tolerance, and the advice for the next
// batches. Advice is only published; nothing here writes to a controller.
#pragma once

#include <map>
#include <optional>
#include <vector>

#include "batch_record.h"

namespace tk571::gateway {

// Allowed distance from FINAL, either in kg or in percent of FINAL.
struct Tolerance {
  double value = 0;
  bool percent = false;
};
using Tolerances = std::map<int, Tolerance>;  // by material 1..4

// Fills deviation, tolerance and verdict of every material.
void Evaluate(const Tolerances& tolerances, BatchRecord* batch);

bool InTolerance(const BatchRecord& batch);

// The FINE (in-flight) set-point that would have brought the recent batches
// to their targets: the FINE of the newest batch plus the mean deviation of
// the batches given (newest first) that ran with a known FINAL and FINE.
struct FineAdvice {
  int material = 0;
  double fine = 0;
  double suggested = 0;
  int batches = 0;
};
std::vector<FineAdvice> SuggestFine(const std::vector<BatchRecord>& newest_first);

}  // namespace tk571::gateway
