#include "batch_recorder.h"

#include <utility>

namespace tk571::gateway {
namespace {

std::optional<std::vector<BatchAmount>> AmountsOf(const std::optional<BatchRecord>& batch) {
  if (!batch) return std::nullopt;
  std::vector<BatchAmount> amounts;
  for (const MaterialResult& m : batch->materials) {
    if (m.amount) amounts.push_back(BatchAmount{m.material, *m.amount});
  }
  return amounts;
}

}  // namespace

BatchRecorder::BatchRecorder(std::string device, int device_number,
                             const std::vector<int>& materials,
                             const std::optional<BatchRecord>& last)
    : device_(std::move(device)),
      device_number_(device_number),
      tracker_(materials, AmountsOf(last)) {}

void BatchRecorder::SetPointHeld(SetPoint which, int material, double value) {
  if (material < 1 || material > 4) return;
  held_[static_cast<std::size_t>(material - 1)][static_cast<std::size_t>(which)] = value;
}

void BatchRecorder::RecipeConfirmed() {
  before_load_ = confirmed_;
  confirmed_ = held_;
}

void BatchRecorder::RecipeRefused() {
  confirmed_ = before_load_;
}

void BatchRecorder::StartWritten(int64_t at_ms, BatchOrigin origin) {
  // The controller refuses a second start while a batch runs. Zeros seen
  // at the first look may be an idle controller: this start is the batch.
  if (open_ && started_ms_ && tracker_.UnderWay()) return;
  Open(at_ms);
  origin_ = std::move(origin);
  opened_by_write_ = true;
}

void BatchRecorder::StartRefused() {
  if (opened_by_write_ && !tracker_.UnderWay()) open_ = false;
  opened_by_write_ = false;
}

void BatchRecorder::WeightRead(int64_t at_ms, double kg) {
  last_weight_ = CurvePoint{at_ms, kg};
  if (open_) curve_.push_back(*last_weight_);
}

void BatchRecorder::AmountRead(int material, double amount) {
  tracker_.Report(material, amount);
}

void BatchRecorder::Open(int64_t at_ms) {
  open_ = true;
  opened_by_write_ = false;
  started_ms_ = at_ms;
  origin_ = BatchOrigin{};
  recipe_ = confirmed_;
  curve_.clear();
  // The driver reports a weight only when it changes: the last one read is
  // the weight at the start.
  if (last_weight_) curve_.push_back(CurvePoint{at_ms, last_weight_->kg});
}

std::optional<BatchRecord> BatchRecorder::Finished(int64_t now_ms) {
  if (!open_ && tracker_.UnderWay()) {
    // Zeros on the first look mean a batch that began before the gateway
    // ran: its start is not known.
    Open(now_ms);
    if (first_poll_) started_ms_.reset();
  }
  first_poll_ = false;
  const std::optional<std::vector<BatchAmount>> amounts = tracker_.Finished();
  if (!amounts) return std::nullopt;
  BatchRecord batch;
  batch.device = device_;
  batch.device_number = device_number_;
  batch.ended_ms = now_ms;
  if (open_) {
    batch.started_ms = started_ms_;
    batch.origin = std::move(origin_);
    if (!started_ms_) {
      // Seen from the first look on: an idle controller shows zeros too, so
      // the curve begins where the weight first moved.
      std::size_t moved = 0;
      while (moved + 1 < curve_.size() && curve_[moved + 1].kg == curve_.front().kg) ++moved;
      curve_.erase(curve_.begin(), curve_.begin() + static_cast<std::ptrdiff_t>(moved));
    }
    batch.curve = std::move(curve_);
  } else {
    // Finished while the gateway did not watch, or before it did.
    recipe_ = confirmed_;
  }
  for (const BatchAmount& a : *amounts) {
    MaterialResult m;
    m.material = a.material;
    const auto& set = recipe_[static_cast<std::size_t>(a.material - 1)];
    m.final_sp = set[static_cast<std::size_t>(SetPoint::kFinal)];
    m.coarse_sp = set[static_cast<std::size_t>(SetPoint::kCoarse)];
    m.fine_sp = set[static_cast<std::size_t>(SetPoint::kFine)];
    m.amount = a.amount;
    batch.materials.push_back(m);
  }
  open_ = false;
  started_ms_.reset();
  origin_ = BatchOrigin{};
  curve_.clear();
  return batch;
}

}  // namespace tk571::gateway
