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
  // `materials`: the channels 1..4 whose ENQ tags the configuration has;
  // `recorded`: the amounts of the batch already on record, which the
  // controller still shows after a restart of the gateway.
  explicit BatchTracker(const std::vector<int>& materials,
                        std::optional<std::vector<BatchAmount>> recorded = std::nullopt);

  void Report(int material, double amount);
  // A material shows 0: the controller is dosing a batch.
  bool UnderWay() const;
  // After all reports of one poll: the finished batch, once per batch.
  std::optional<std::vector<BatchAmount>> Finished();

 private:
  std::map<int, std::optional<double>> amounts_;
  std::optional<std::vector<BatchAmount>> published_;
};

}  // namespace tk571::gateway
