// The batch journal: every finished batch, with its recipe, amounts,
// verdicts and fill curve, written in one transaction (a batch is in the
// journal whole or not at all). The journal is also the outgoing queue of
// the batch events: a batch stays unpublished until the broker acknowledged
// its event.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "batch_record.h"
#include "journal_db.h"

namespace tk571::gateway {

class BatchJournal {
 public:
  explicit BatchJournal(JournalDb& db) : db_(db) {}

  // Gives the batch the next sequence number of its device and its journal
  // number, and stores it.
  void Add(BatchRecord* batch);
  void MarkPublished(int64_t id);
  // Oldest first, at most `limit`, without curves.
  std::vector<BatchRecord> Unpublished(std::size_t limit);
  std::optional<BatchRecord> Last(const std::string& device);
  // The newest `count` batches of the device, newest first, without curves.
  std::vector<BatchRecord> Recent(const std::string& device, std::size_t count);
  // Batches that ended in [from_ms, to_ms), oldest first, without curves; an
  // empty device means every device.
  std::vector<BatchRecord> Ended(int64_t from_ms, int64_t to_ms, const std::string& device);
  std::optional<BatchRecord> ById(int64_t id);
  // Removes batches that ended before `before_ms`; answers how many.
  int64_t PruneBefore(int64_t before_ms);

 private:
  // Batches with their materials; the curve has its own table, so that a
  // report reads none.
  std::vector<BatchRecord> Query(const std::string& where_and_order,
                                 const std::function<void(Statement&)>& bind);

  JournalDb& db_;
};

// The fill curve in the journal's form, little-endian: the time of the first
// point (i64 ms), then per point the milliseconds after it (u32) and the
// weight (f64).
std::string PackCurve(const std::vector<CurvePoint>& curve);
std::vector<CurvePoint> UnpackCurve(const std::string& bytes);

}  // namespace tk571::gateway
