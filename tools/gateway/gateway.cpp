#include "gateway.h"

#include <cstdlib>
#include <set>

#include "log.h"
#include "time_text.h"

namespace tk571::gateway {

Gateway::Gateway(const GatewayConfig& config, std::vector<LinePlan> plans,
                 host::DriverLibrary& library)
    : config_(config),
      topics_(config.broker.topic_prefix),
      plans_(std::move(plans)),
      library_(library) {}

Gateway::~Gateway() {
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
        if (const std::optional<Discovery> d = HomeAssistantDiscovery(
                control, topics_, config_.homeassistant.prefix, config_.broker.client_id)) {
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
  Log("gateway started: " + std::to_string(plans_.size()) + " lines, broker " +
      config_.broker.host + ":" + std::to_string(config_.broker.port) + ", topics " +
      topics_.Control("<device>", "<control>"));
  return true;
}

void Gateway::OnMessage(const std::string& topic, const std::string& payload, bool retained) {
  const auto target = topics_.ParseWrite(topic);
  if (!target) return;
  const WriteSource source{topic, "", ""};
  const auto refuse = [&](const std::string& reason) {
    audit_->RecordWrite(WriteEvent{NowMs(), target->first, target->second, "", payload, source,
                                   WriteOutcome::kRefused, reason});
  };
  if (retained) {
    // A retained command would run again at every reconnection.
    Log("write " + topic + ": ignored, it was retained on the broker");
    refuse("it was retained on the broker");
    return;
  }
  const std::lock_guard<std::mutex> lock(route_mutex_);
  const auto worker = worker_of_device_.find(target->first);
  if (worker == worker_of_device_.end()) {
    Log("write " + topic + ": no such device");
    refuse("no such device");
    return;
  }
  worker->second->RequestWrite(target->first, target->second, payload, source);
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
