#include "batch_tracker.h"

namespace tk571::gateway {
namespace {

bool Same(const std::vector<BatchAmount>& a, const std::vector<BatchAmount>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].material != b[i].material || a[i].amount != b[i].amount) return false;
  }
  return true;
}

}  // namespace

BatchTracker::BatchTracker(const std::vector<int>& materials,
                           std::optional<std::vector<BatchAmount>> recorded)
    : published_(std::move(recorded)) {
  for (int material : materials) amounts_[material] = std::nullopt;
}

bool BatchTracker::UnderWay() const {
  for (const auto& [material, amount] : amounts_) {
    if (amount && *amount <= 0) return true;
  }
  return false;
}

void BatchTracker::Report(int material, double amount) {
  const auto it = amounts_.find(material);
  if (it != amounts_.end()) it->second = amount;
}

std::optional<std::vector<BatchAmount>> BatchTracker::Finished() {
  std::vector<BatchAmount> batch;
  for (const auto& [material, amount] : amounts_) {
    if (!amount) return std::nullopt;  // no reading yet
    if (*amount <= 0) {
      published_.reset();  // a new batch is under way
      return std::nullopt;
    }
    batch.push_back(BatchAmount{material, *amount});
  }
  if (batch.empty() || (published_ && Same(*published_, batch))) return std::nullopt;
  published_ = batch;
  return batch;
}

}  // namespace tk571::gateway
