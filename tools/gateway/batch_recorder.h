// Builds the journal's record of each batch of one device from what the
// line's polls report: the set-points the driver holds, the moment the
// controller confirmed them as its recipe, the start (a START_UP written
// through the gateway, or the final amounts going back to 0), the live
// weights while the batch runs, and the final amounts that end it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "batch_record.h"
#include "batch_tracker.h"

namespace tk571::gateway {

enum class SetPoint { kFinal, kCoarse, kFine };

class BatchRecorder {
 public:
  // `last`: the device's newest batch in the journal, if any.
  BatchRecorder(std::string device, int device_number, const std::vector<int>& materials,
                const std::optional<BatchRecord>& last);

  // A set-point the driver holds: reported, or just written to it.
  void SetPointHeld(SetPoint which, int material, double value);
  // LOAD_SETM taken by the driver, or READ_SETM read the controller's
  // table: the set-points the driver holds now are the controller's recipe.
  // The driver reports a command tag only when its value or quality
  // changes, so a load that went through is not reported again; one that
  // failed is, and takes the recipe back.
  void RecipeConfirmed();
  void RecipeRefused();
  // START_UP written true through the gateway, and refused by the controller.
  void StartWritten(int64_t at_ms, BatchOrigin origin);
  void StartRefused();
  void WeightRead(int64_t at_ms, double kg);
  void AmountRead(int material, double amount);
  // After all reports of one poll: the finished batch, once per batch, with
  // no sequence number yet.
  std::optional<BatchRecord> Finished(int64_t now_ms);

 private:
  using Recipe = std::array<std::array<std::optional<double>, 3>, 4>;

  void Open(int64_t at_ms);

  std::string device_;
  int device_number_;
  BatchTracker tracker_;
  Recipe held_{};
  Recipe confirmed_{};
  Recipe before_load_{};
  bool opened_by_write_ = false;
  bool first_poll_ = true;
  bool open_ = false;
  std::optional<int64_t> started_ms_;
  BatchOrigin origin_;
  Recipe recipe_{};  // the confirmed recipe when the batch started
  std::vector<CurvePoint> curve_;
  std::optional<CurvePoint> last_weight_;
};

}  // namespace tk571::gateway
