#include "gateway.h"

#include <cstdlib>
#include <set>

#include "log.h"

namespace tk571::gateway {

Gateway::Gateway(const GatewayConfig& config, std::vector<LinePlan> plans, RegisterMap map,
                 host::DriverLibrary& library)
    : config_(config),
      topics_(config.broker.topic_prefix),
      plans_(std::move(plans)),
      map_(std::move(map)),
      library_(library) {
  const auto stale = std::chrono::seconds(config_.modbus ? config_.modbus->stale_s : 5);
  for (const LinePlan& plan : plans_) values_.push_back(std::make_unique<LineValues>(plan, stale));
}

Gateway::~Gateway() {
  modbus_.reset();
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
  link_ =
      std::make_unique<MqttLink>(config_.broker, topics_.Status(config_.broker.client_id),
                                 std::vector<std::string>{topics_.WritePattern()},
                                 [this](const std::string& topic, const std::string& payload,
                                        bool retained) { OnMessage(topic, payload, retained); });
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
  for (std::size_t i = 0; i < plans_.size(); ++i) {
    const LinePlan& plan = plans_[i];
    auto worker = std::make_unique<LineWorker>(library_, plan, topics_, *link_, *values_[i]);
    for (const DeviceConfig& device : plan.config.devices) {
      worker_of_device_[device.name] = worker.get();
    }
    worker_of_device_[plan.config.name] = worker.get();
    worker->Start();
    workers_.push_back(std::move(worker));
  }
  if (config_.modbus) {
    std::vector<const LineValues*> lines;
    for (const auto& v : values_) lines.push_back(v.get());
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
  if (retained) {
    // A retained command would run again at every reconnection.
    Log("write " + topic + ": ignored, it was retained on the broker");
    return;
  }
  const std::lock_guard<std::mutex> lock(route_mutex_);
  const auto worker = worker_of_device_.find(target->first);
  if (worker == worker_of_device_.end()) {
    Log("write " + topic + ": no such device");
    return;
  }
  worker->second->RequestWrite(target->first, target->second, payload);
}

WriteVerdict Gateway::Submit(const std::string& device, const std::string& control,
                             const std::string& payload) {
  const std::lock_guard<std::mutex> lock(route_mutex_);
  const auto worker = worker_of_device_.find(device);
  if (worker == worker_of_device_.end()) return WriteVerdict::kNoSuchControl;
  for (const Control& c : worker->second->Plan().controls) {
    if (c.device != device || c.name != control || !c.has_range) continue;
    const double value = std::strtod(payload.c_str(), nullptr);
    if (value < c.min || value > c.max) {
      Log("write " + device + "/" + control + " = " + payload + ": refused, outside " +
          NumberText(c.min) + ".." + NumberText(c.max));
      return WriteVerdict::kOutOfRange;
    }
  }
  return worker->second->RequestWrite(device, control, payload) ? WriteVerdict::kQueued
                                                                : WriteVerdict::kBusy;
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
