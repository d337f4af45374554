#include "gateway.h"

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>

#include "log.h"
#include "time_text.h"

namespace tk571::gateway {
namespace {

constexpr std::chrono::seconds kRefusalLogInterval{10};
constexpr uint64_t kRefusalLogBurst = 5;
constexpr std::chrono::seconds kHousekeepingPeriod{1};
constexpr int kMetricsEvery = 5;  // housekeeping rounds

}  // namespace

Gateway::Gateway(const GatewayConfig& config, std::vector<LinePlan> plans, RegisterMap map,
                 host::DriverLibrary& library)
    : config_(config),
      topics_(config.broker.topic_prefix),
      plans_(std::move(plans)),
      map_(std::move(map)),
      library_(library),
      policy_(config_.writes, plans_),
      refusal_log_(kRefusalLogInterval, kRefusalLogBurst) {}

Gateway::~Gateway() {
  modbus_.reset();
  {
    const std::lock_guard<std::mutex> lock(housekeeping_mutex_);
    stopping_ = true;
  }
  housekeeping_wake_.notify_all();
  if (housekeeping_.joinable()) housekeeping_.join();
  {
    const std::lock_guard<std::mutex> lock(route_mutex_);
    worker_of_device_.clear();
  }
  workers_.clear();
  link_.reset();
}

bool Gateway::Start(std::string* error) {
  // The driver opens "ComN" as the device TK571_COMN names. The environment
  // changes only here, before this gateway's threads start and after the
  // previous one's have ended.
  for (const LinePlan& plan : plans_) {
    if (!plan.device_path.empty()) {
      setenv(("TK571_COM" + std::to_string(plan.com)).c_str(), plan.device_path.c_str(), 1);
    }
  }
  try {
    db_ = std::make_unique<JournalDb>(JournalPath(config_.journal));
  } catch (const JournalError& e) {
    *error = e.what();
    return false;
  }
  batch_journal_ = std::make_unique<BatchJournal>(*db_);
  audit_ = std::make_unique<AuditTrail>(*db_);
  retention_ =
      std::make_unique<Retention>(*batch_journal_, *audit_, config_.journal.retention_days);
  link_ =
      std::make_unique<MqttLink>(config_.broker, topics_.Status(config_.broker.client_id),
                                 std::vector<std::string>{topics_.WritePattern()},
                                 [this](const std::string& topic, const std::string& payload,
                                        bool retained) { OnMessage(topic, payload, retained); });
  BatchPolicy policy;
  policy.advice_batches = config_.journal.advice_batches;
  std::vector<std::string> devices;
  for (const LinePlan& plan : plans_) {
    for (const DeviceConfig& device : plan.config.devices) {
      policy.tolerances[device.name] = device.tolerances;
      devices.push_back(device.name);
    }
  }
  batch_service_ = std::make_unique<BatchService>(*batch_journal_, *retention_, *link_, topics_,
                                                  std::move(policy));
  batch_service_->Start(devices);
  if (!link_->Start(error)) return false;

  if (config_.homeassistant.discovery) {
    for (const LinePlan& plan : plans_) {
      for (const Control& control : plan.controls) {
        if (const std::optional<Discovery> d =
                HomeAssistantDiscovery(control, topics_, config_.homeassistant.prefix,
                                       config_.broker.client_id, config_.broker.qos)) {
          link_->Publish(d->topic, d->payload);
        }
      }
    }
  }
  const std::lock_guard<std::mutex> lock(route_mutex_);
  for (LinePlan& plan : plans_) {
    auto worker =
        std::make_unique<LineWorker>(library_, plan, topics_, *link_, *batch_service_, *audit_);
    for (const DeviceConfig& device : plan.config.devices) {
      worker_of_device_[device.name] = worker.get();
    }
    worker_of_device_[plan.config.name] = worker.get();
    worker->Start();
    workers_.push_back(std::move(worker));
  }
  housekeeping_ = std::thread(&Gateway::Housekeeping, this);
  if (config_.modbus) {
    std::vector<const LineValues*> lines;
    for (const auto& worker : workers_) lines.push_back(&worker->Values());
    modbus_ = std::make_unique<ModbusServer>(*config_.modbus, map_, std::move(lines), *this);
    if (!modbus_->Start(error)) return false;
  }
  Log("gateway started: " + std::to_string(plans_.size()) + " lines, broker " +
      config_.broker.host + ":" + std::to_string(config_.broker.port) + ", topics " +
      topics_.Control("<device>", "<control>"));
  return true;
}

void Gateway::OnMessage(const std::string& topic, const std::string& payload, bool retained) {
  const auto target = topics_.ParseWrite(topic);
  if (!target) return;
  const WriteSource origin{topic, "", ""};
  if (retained) {
    // A retained command would run again at every reconnection.
    if (refusal_log_.Admit("mqtt: retained writes ignored", std::chrono::steady_clock::now())) {
      Log("mqtt: write " + Printable(topic) + ": ignored, it was retained on the broker");
      audit_->RecordWrite(WriteEvent{NowMs(), target->first, target->second, "", payload, origin,
                                     WriteOutcome::kRefused, "it was retained on the broker"});
    }
    return;
  }
  SubmitWrite(target->first, target->second, payload, "mqtt", origin);
}

WriteVerdict Gateway::SubmitWrite(const std::string& device, const std::string& control,
                                  std::string_view payload, std::string_view source,
                                  const WriteSource& origin) {
  WriteSource from = origin;
  if (from.topic.empty()) from.topic = source;
  const WriteDecision decision =
      policy_.Check(device, control, payload, std::chrono::steady_clock::now());
  const std::lock_guard<std::mutex> lock(route_mutex_);
  const auto found = worker_of_device_.find(device);
  LineWorker* worker = found == worker_of_device_.end() ? nullptr : found->second;
  if (decision.verdict != WriteVerdict::kAllowed || worker == nullptr) {
    Refused(worker, device, control, payload, source, from, decision);
    return decision.verdict;
  }
  if (!worker->RequestWrite(device, control, decision.value, from)) {
    WriteDecision busy = decision;
    busy.verdict = WriteVerdict::kLineBusy;
    Refused(worker, device, control, payload, source, from, busy);
    return busy.verdict;
  }
  return WriteVerdict::kAllowed;
}

void Gateway::Refused(LineWorker* worker, const std::string& device, const std::string& control,
                      std::string_view payload, std::string_view source, const WriteSource& from,
                      const WriteDecision& decision) {
  const bool known = decision.verdict != WriteVerdict::kNoSuchControl;
  if (worker != nullptr && known) worker->NoteRefused(device, control);
  // Unknown names come from outside and are unbounded: they share one key.
  const std::string key = std::string(source) + ": write " +
                          (known ? device + "/" + control : "to unknown controls") + " refused";
  if (!refusal_log_.Admit(key, std::chrono::steady_clock::now())) return;
  const std::string name = known ? device + "/" + control : Printable(device + "/" + control);
  const std::string reason = std::string(VerdictText(decision.verdict)) +
                             (decision.detail.empty() ? "" : " (" + decision.detail + ")");
  Log(std::string(source) + ": write " + name + " = " + Printable(payload) + ": refused, " +
      reason);
  // As the log: a flood is recorded by its first writes and the summary line.
  audit_->RecordWrite(
      WriteEvent{NowMs(), known ? device : Printable(device), known ? control : Printable(control),
                 worker != nullptr && known ? worker->LastValue(device, control) : "",
                 Printable(payload), from, WriteOutcome::kRefused, reason});
}

void Gateway::Housekeeping() {
  std::unique_lock<std::mutex> lock(housekeeping_mutex_);
  for (int round = 1;
       !housekeeping_wake_.wait_for(lock, kHousekeepingPeriod, [this] { return stopping_; });
       ++round) {
    for (const std::string& line : refusal_log_.Summaries(std::chrono::steady_clock::now())) {
      Log(line);
    }
    if (round % kMetricsEvery == 0) PublishMetrics();
  }
}

void Gateway::PublishMetrics() {
  const std::string& client = config_.broker.client_id;
  for (const std::unique_ptr<LineWorker>& worker : workers_) {
    const std::string& line = worker->Plan().config.name;
    link_->Publish(topics_.LineMetrics(client, line),
                   MetricsPayload(line, worker->Metrics().Snapshot()));
  }
  const MqttLink::Figures broker = link_->Snapshot();
  link_->Publish(topics_.Metrics(client), nlohmann::json{{"connected", broker.connected},
                                                         {"connections", broker.connections},
                                                         {"waiting", broker.waiting},
                                                         {"in_flight", broker.in_flight},
                                                         {"superseded", broker.superseded}}
                                              .dump());
}

WriteVerdict Gateway::Submit(const std::string& device, const std::string& control,
                             const std::string& payload) {
  return SubmitWrite(device, control, payload, "modbus");
}

void Gateway::ClearStale(const std::vector<std::string>& earlier_topics) {
  std::set<std::string> owned;
  for (const std::string& topic : RetainedTopics()) owned.insert(topic);
  std::vector<std::string> prefixes;
  for (const LinePlan& plan : plans_) {
    for (const Control& c : plan.controls) prefixes.push_back(topics_.Control(c.device, c.name));
    for (const DeviceConfig& device : plan.config.devices) {
      prefixes.push_back(topics_.Batch(device.name));
    }
  }
  const auto is_owned = [&](const std::string& topic) {
    if (owned.count(topic) != 0) return true;
    for (const std::string& p : prefixes) {
      if (topic == p || topic.rfind(p + "/", 0) == 0) return true;
    }
    return false;
  };
  for (const std::string& topic : earlier_topics) {
    if (!is_owned(topic)) link_->Publish(topic, "");
  }
}

}  // namespace tk571::gateway
