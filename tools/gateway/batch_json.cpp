#include "batch_json.h"

#include "time_text.h"

namespace tk571::gateway {
namespace {

using nlohmann::json;

json OrNull(const std::optional<double>& value) {
  return value ? json(*value) : json(nullptr);
}

}  // namespace

json BatchJson(const BatchRecord& batch) {
  json materials = json::array();
  for (const MaterialResult& m : batch.materials) {
    materials.push_back({{"material", m.material},
                         {"amount", OrNull(m.amount)},
                         {"target", OrNull(m.final_sp)},
                         {"coarse", OrNull(m.coarse_sp)},
                         {"fine", OrNull(m.fine_sp)},
                         {"deviation", OrNull(m.deviation)},
                         {"tolerance", OrNull(m.tolerance)},
                         {"verdict", VerdictText(m.verdict)}});
  }
  return json{{"batch", batch.id},
              {"device", batch.device},
              {"number", batch.device_number},
              {"sequence", batch.sequence},
              {"started", batch.started_ms ? json(UtcText(*batch.started_ms)) : json(nullptr)},
              {"time", UtcText(batch.ended_ms)},
              {"unit", batch.unit},
              {"origin",
               {{"control", batch.origin.control},
                {"topic", batch.origin.source.topic},
                {"client", batch.origin.source.client},
                {"user", batch.origin.source.user}}},
              {"materials", materials}};
}

std::string AdvicePayload(const BatchRecord& batch, const std::vector<FineAdvice>& advice) {
  json materials = json::array();
  for (const MaterialResult& m : batch.materials) {
    json entry = {{"material", m.material}, {"deviation", OrNull(m.deviation)}};
    for (const FineAdvice& a : advice) {
      if (a.material != m.material) continue;
      entry["fine"] = a.fine;
      entry["suggested_fine"] = a.suggested;
      entry["batches"] = a.batches;
    }
    materials.push_back(entry);
  }
  return json{{"device", batch.device}, {"sequence", batch.sequence}, {"materials", materials}}
      .dump();
}

std::string AlarmPayload(const BatchRecord& batch) {
  json materials = json::array();
  for (const MaterialResult& m : batch.materials) {
    if (m.verdict != Verdict::kOut) continue;
    materials.push_back({{"material", m.material},
                         {"deviation", OrNull(m.deviation)},
                         {"tolerance", OrNull(m.tolerance)}});
  }
  if (materials.empty()) return std::string();
  return json{{"device", batch.device},
              {"sequence", batch.sequence},
              {"time", UtcText(batch.ended_ms)},
              {"materials", materials}}
      .dump();
}

}  // namespace tk571::gateway
