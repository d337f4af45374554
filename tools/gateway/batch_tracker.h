// Turns a controller's final amounts (ENQ tags, reported one by one as they
// change) into one record per finished batch. The controller shows 0 for a
// material until it has finished in the current batch, so a batch is finished
// when every watched material shows an amount, and a 0 starts the next one.
#pragma once

#include <map>
#include <optional>
#include <vector>

#include "topics.h"

namespace tk571::gateway {

class BatchTracker {
 public:
  // `materials`: the channels 1..4 whose ENQ tags the configuration has.
  explicit BatchTracker(const std::vector<int>& materials);

  void Report(int material, double amount);
  // After all reports of one poll: the finished batch, once per batch.
  std::optional<std::vector<BatchAmount>> Finished();

 private:
  std::map<int, std::optional<double>> amounts_;
  std::optional<std::vector<BatchAmount>> published_;
};

}  // namespace tk571::gateway
