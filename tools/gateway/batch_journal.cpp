#include "batch_journal.h"

#include <cstring>

namespace tk571::gateway {
namespace {

constexpr const char* kColumns =
    "SELECT b.id, b.device, b.device_number, b.sequence, b.started_ms, b.ended_ms, "
    "b.origin_control, b.origin_topic, b.origin_client, b.origin_user, b.unit, "
    "m.material, m.final_sp, m.coarse_sp, m.fine_sp, m.amount, m.deviation, m.tolerance, "
    "m.verdict "
    "FROM batch b LEFT JOIN batch_material m ON m.batch_id = b.id ";

template <typename T>
void Put(std::string* bytes, T value) {
  char raw[sizeof(T)];
  std::memcpy(raw, &value, sizeof(T));
  bytes->append(raw, sizeof(T));
}

template <typename T>
T Take(const std::string& bytes, std::size_t at) {
  T value;
  std::memcpy(&value, bytes.data() + at, sizeof(T));
  return value;
}

}  // namespace

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the curve is stored little-endian");

std::string PackCurve(const std::vector<CurvePoint>& curve) {
  std::string bytes;
  if (curve.empty()) return bytes;
  bytes.reserve(8 + curve.size() * 12);
  const int64_t first = curve.front().at_ms;
  Put<int64_t>(&bytes, first);
  for (const CurvePoint& p : curve) {
    Put<uint32_t>(&bytes, static_cast<uint32_t>(p.at_ms - first));
    Put<double>(&bytes, p.kg);
  }
  return bytes;
}

std::vector<CurvePoint> UnpackCurve(const std::string& bytes) {
  std::vector<CurvePoint> curve;
  if (bytes.size() < 8) return curve;
  const int64_t first = Take<int64_t>(bytes, 0);
  for (std::size_t at = 8; at + 12 <= bytes.size(); at += 12) {
    curve.push_back(CurvePoint{first + Take<uint32_t>(bytes, at), Take<double>(bytes, at + 4)});
  }
  return curve;
}

void BatchJournal::Add(BatchRecord* batch) {
  const std::lock_guard<std::mutex> lock(db_.Lock());
  Transaction transaction(db_);
  Statement next(db_, "SELECT coalesce(max(sequence), 0) + 1 FROM batch WHERE device = ?1");
  next.Bind(1, batch->device).Step();
  batch->sequence = next.Int(0);
  Statement insert(db_,
                   "INSERT INTO batch (device, device_number, sequence, started_ms, ended_ms, "
                   "origin_control, origin_topic, origin_client, origin_user, unit) "
                   "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
  insert.Bind(1, batch->device)
      .Bind(2, int64_t{batch->device_number})
      .Bind(3, batch->sequence)
      .Bind(4, batch->started_ms)
      .Bind(5, batch->ended_ms)
      .Bind(6, batch->origin.control)
      .Bind(7, batch->origin.source.topic)
      .Bind(8, batch->origin.source.client)
      .Bind(9, batch->origin.source.user)
      .Bind(10, batch->unit)
      .Run();
  batch->id = db_.LastInsertId();
  if (!batch->curve.empty()) {
    Statement(db_, "INSERT INTO batch_curve (batch_id, points) VALUES (?1, ?2)")
        .Bind(1, batch->id)
        .BindBlob(2, PackCurve(batch->curve))
        .Run();
  }
  Statement material(db_,
                     "INSERT INTO batch_material (batch_id, material, final_sp, coarse_sp, "
                     "fine_sp, amount, deviation, tolerance, verdict) "
                     "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
  for (const MaterialResult& m : batch->materials) {
    material.Bind(1, batch->id)
        .Bind(2, int64_t{m.material})
        .Bind(3, m.final_sp)
        .Bind(4, m.coarse_sp)
        .Bind(5, m.fine_sp)
        .Bind(6, m.amount)
        .Bind(7, m.deviation)
        .Bind(8, m.tolerance)
        .Bind(9, std::string(VerdictText(m.verdict)))
        .Run();
    material.Reset();
  }
  transaction.Commit();
}

void BatchJournal::MarkPublished(int64_t id) {
  const std::lock_guard<std::mutex> lock(db_.Lock());
  Statement(db_, "UPDATE batch SET published = 1 WHERE id = ?1").Bind(1, id).Run();
}

std::vector<BatchRecord> BatchJournal::Query(const std::string& where_and_order,
                                             const std::function<void(Statement&)>& bind) {
  const std::lock_guard<std::mutex> lock(db_.Lock());
  const std::string sql = kColumns + where_and_order;
  Statement query(db_, sql.c_str());
  bind(query);
  std::vector<BatchRecord> batches;
  while (query.Step()) {
    const int64_t id = query.Int(0);
    if (batches.empty() || batches.back().id != id) {
      BatchRecord b;
      b.id = id;
      b.device = query.Text(1);
      b.device_number = static_cast<int>(query.Int(2));
      b.sequence = query.Int(3);
      b.started_ms = query.OptionalInt(4);
      b.ended_ms = query.Int(5);
      b.origin =
          BatchOrigin{query.Text(6), WriteSource{query.Text(7), query.Text(8), query.Text(9)}};
      b.unit = query.Text(10);
      batches.push_back(std::move(b));
    }
    if (const std::optional<int64_t> material = query.OptionalInt(11)) {
      MaterialResult m;
      m.material = static_cast<int>(*material);
      m.final_sp = query.OptionalReal(12);
      m.coarse_sp = query.OptionalReal(13);
      m.fine_sp = query.OptionalReal(14);
      m.amount = query.OptionalReal(15);
      m.deviation = query.OptionalReal(16);
      m.tolerance = query.OptionalReal(17);
      m.verdict = VerdictOf(query.Text(18));
      batches.back().materials.push_back(m);
    }
  }
  return batches;
}

std::vector<BatchRecord> BatchJournal::Unpublished(std::size_t limit) {
  return Query(
      "WHERE b.id IN (SELECT id FROM batch WHERE published = 0 ORDER BY id LIMIT ?1) "
      "ORDER BY b.id, m.material",
      [&](Statement& s) { s.Bind(1, static_cast<int64_t>(limit)); });
}

std::optional<BatchRecord> BatchJournal::Last(const std::string& device) {
  std::vector<BatchRecord> last = Recent(device, 1);
  if (last.empty()) return std::nullopt;
  return last.front();
}

std::vector<BatchRecord> BatchJournal::Recent(const std::string& device, std::size_t count) {
  return Query(
      "WHERE b.id IN (SELECT id FROM batch WHERE device = ?1 ORDER BY sequence DESC LIMIT ?2) "
      "ORDER BY b.sequence DESC, m.material",
      [&](Statement& s) { s.Bind(1, device).Bind(2, static_cast<int64_t>(count)); });
}

std::vector<BatchRecord> BatchJournal::Ended(int64_t from_ms, int64_t to_ms,
                                             const std::string& device) {
  return Query(
      // In the order of the index on ended_ms (and the batch number within).
      "WHERE b.ended_ms >= ?1 AND b.ended_ms < ?2 AND (?3 = '' OR b.device = ?3) "
      "ORDER BY b.ended_ms, b.id, m.material",
      [&](Statement& s) { s.Bind(1, from_ms).Bind(2, to_ms).Bind(3, device); });
}

std::optional<BatchRecord> BatchJournal::ById(int64_t id) {
  std::vector<BatchRecord> found =
      Query("WHERE b.id = ?1 ORDER BY m.material", [&](Statement& s) { s.Bind(1, id); });
  if (found.empty()) return std::nullopt;
  const std::lock_guard<std::mutex> lock(db_.Lock());
  Statement curve(db_, "SELECT points FROM batch_curve WHERE batch_id = ?1");
  if (curve.Bind(1, id).Step()) found.front().curve = UnpackCurve(curve.Blob(0));
  return found.front();
}

int64_t BatchJournal::PruneBefore(int64_t before_ms) {
  const std::lock_guard<std::mutex> lock(db_.Lock());
  Transaction transaction(db_);
  Statement(db_, "DELETE FROM batch WHERE ended_ms < ?1").Bind(1, before_ms).Run();
  const int64_t removed = db_.Changes();
  transaction.Commit();
  return removed;
}

}  // namespace tk571::gateway
