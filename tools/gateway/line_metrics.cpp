#include "line_metrics.h"

#include <nlohmann/json.hpp>

namespace tk571::gateway {

void LineMetrics::Update(const std::function<void(LineFigures&)>& change) {
  const std::lock_guard<std::mutex> lock(mutex_);
  change(figures_);
}

LineFigures LineMetrics::Snapshot() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return figures_;
}

std::string MetricsPayload(const std::string& line, const LineFigures& f) {
  nlohmann::json devices = nlohmann::json::object();
  for (const auto& [name, d] : f.devices) {
    devices[name] = {
        {"link", d.link}, {"link_changes", d.link_changes}, {"bad_readings", d.bad_readings}};
  }
  return nlohmann::json{
      {"line", line},
      {"polls", f.polls},
      {"records", f.records},
      {"timeouts", f.timeouts},
      {"driver_messages", f.driver_messages},
      {"link", f.line_link},
      {"link_changes", f.line_link_changes},
      {"driver_starts", f.driver_starts},
      {"start_failures", f.start_failures},
      {"writes",
       {{"done", f.writes_done}, {"refused", f.writes_refused}, {"failed", f.writes_failed}}},
      {"write_queue", f.write_queue},
      {"dropped", f.dropped},
      {"devices", devices},
  }
      .dump();
}

}  // namespace tk571::gateway
