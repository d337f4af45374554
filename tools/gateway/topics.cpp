#include "topics.h"

#include <cctype>
#include <charconv>
#include <nlohmann/json.hpp>

#include "tag_kinds.h"
#include "text_codec.h"

namespace tk571::gateway {
namespace {

using nlohmann::json;

// A node id of Home Assistant's discovery topics takes letters, digits, '_'
// and '-' only.
std::string NodeId(const std::string& text) {
  std::string id = text;
  for (char& c : id) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) c = '_';
  }
  return id;
}

}  // namespace

std::string NumberText(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string Topics::Control(const std::string& device, const std::string& control) const {
  return prefix_ + "/devices/" + device + "/controls/" + control;
}
std::string Topics::Meta(const std::string& device, const std::string& control) const {
  return Control(device, control) + "/meta";
}
std::string Topics::MetaError(const std::string& device, const std::string& control) const {
  return Meta(device, control) + "/error";
}
std::string Topics::DeviceMeta(const std::string& device) const {
  return prefix_ + "/devices/" + device + "/meta";
}
std::string Topics::DeviceMetaError(const std::string& device) const {
  return DeviceMeta(device) + "/error";
}
std::string Topics::Batch(const std::string& device) const {
  return prefix_ + "/devices/" + device + "/batch";
}
std::string Topics::BatchEvents(const std::string& device) const {
  return Batch(device) + "/events";
}
std::string Topics::BatchAdvice(const std::string& device) const {
  return Batch(device) + "/advice";
}
std::string Topics::BatchAlarm(const std::string& device) const {
  return Batch(device) + "/alarm";
}
std::string Topics::Status(const std::string& client_id) const {
  return prefix_ + "/gateway/" + client_id + "/status";
}
std::string Topics::Metrics(const std::string& client_id) const {
  return prefix_ + "/gateway/" + client_id + "/metrics";
}
std::string Topics::LineMetrics(const std::string& client_id, const std::string& line) const {
  return prefix_ + "/gateway/" + client_id + "/lines/" + line + "/metrics";
}
std::string Topics::WritePattern() const {
  return prefix_ + "/devices/+/controls/+/on";
}

std::optional<std::pair<std::string, std::string>> Topics::ParseWrite(
    const std::string& topic) const {
  const std::string head = prefix_ + "/devices/";
  const std::string middle = "/controls/";
  const std::string tail = "/on";
  if (topic.rfind(head, 0) != 0 || topic.size() < head.size() + tail.size() ||
      topic.compare(topic.size() - tail.size(), tail.size(), tail) != 0) {
    return std::nullopt;
  }
  const std::string inner = topic.substr(head.size(), topic.size() - head.size() - tail.size());
  const std::size_t split = inner.find(middle);
  if (split == std::string::npos) return std::nullopt;
  std::string device = inner.substr(0, split);
  std::string control = inner.substr(split + middle.size());
  if (device.empty() || control.empty() || device.find('/') != std::string::npos ||
      control.find('/') != std::string::npos) {
    return std::nullopt;
  }
  return std::make_pair(std::move(device), std::move(control));
}

std::string ValuePayload(const TTagValueRec& record) {
  switch (record.ValueType) {
    case TK571_VALUE_FLOAT:
      return NumberText(record.Value.Float);
    case TK571_VALUE_BOOL:
      return record.Value.Bool != 0 ? "1" : "0";
    case TK571_VALUE_STRING:
      return record.Value.String ? host::DisplayText(record.Value.String) : std::string();
    default:
      return std::string();
  }
}

std::string MetaPayload(const Control& control, int order) {
  json meta;
  switch (control.tag.kind) {
    case TK571_VALUE_BOOL:
      // A command that only starts something is a button; a Boolean that is
      // only read is a state, not an alarm.
      meta["type"] = control.command && control.type != "START_UP" ? "pushbutton" : "switch";
      break;
    case TK571_VALUE_STRING:
      meta["type"] = "text";
      break;
    default:
      meta["type"] = "value";
  }
  if (!control.unit.empty()) meta["units"] = control.unit;
  meta["readonly"] = !control.writable;
  json title;
  if (!control.title.en.empty()) title["en"] = control.title.en;
  if (!control.title.zh.empty()) title["zh"] = control.title.zh;
  if (!title.empty()) meta["title"] = title;
  if (control.has_range) {
    meta["min"] = control.min;
    meta["max"] = control.max;
  }
  meta["order"] = order;
  meta["address"] = control.tag.address;
  return meta.dump();
}

std::string DeviceMetaPayload(const DeviceConfig& device, const std::string& line) {
  return json{{"name", device.name}, {"number", device.number}, {"line", line}, {"model", "TK571"}}
      .dump();
}

std::optional<Discovery> HomeAssistantDiscovery(const Control& control, const Topics& topics,
                                                const std::string& discovery_prefix,
                                                const std::string& client_id, int qos) {
  const KindInfo* kind = control.role == ControlRole::kTag ? FindKind(control.type) : nullptr;
  if (kind == nullptr || kind->homeassistant == HomeAssistantComponent::kNone) {
    return std::nullopt;
  }
  const std::string node = NodeId(client_id + "_" + control.device);
  const json availability = json::array({
      {{"topic", topics.Status(client_id)},
       {"payload_available", "online"},
       {"payload_not_available", "offline"}},
      {{"topic", topics.Control(control.device, "link")},
       {"value_template", "{{ 'online' if value == '1' else 'offline' }}"}},
  });
  json entity = {
      {"name", control.title.en},
      {"unique_id", node + "_" + control.name},
      {"state_topic", topics.Control(control.device, control.name)},
      {"availability", availability},
      {"availability_mode", "all"},
      {"qos", qos},
      {"origin", {{"name", "tk571-gateway"}, {"sw_version", TK571_GATEWAY_VERSION}}},
      {"device",
       {{"identifiers", json::array({node})}, {"name", control.device}, {"model", "TK571"}}},
  };
  HomeAssistantComponent as = kind->homeassistant;
  if (!control.writable) {
    if (as == HomeAssistantComponent::kButton) return std::nullopt;
    if (as == HomeAssistantComponent::kNumber) as = HomeAssistantComponent::kSensor;
  }
  const std::string command_topic = topics.Control(control.device, control.name) + "/on";
  std::string component;
  switch (as) {
    case HomeAssistantComponent::kSensor:
      component = "sensor";
      entity["unit_of_measurement"] = control.unit;
      entity["device_class"] = "weight";
      entity["state_class"] = "measurement";
      break;
    case HomeAssistantComponent::kNumber:
      component = "number";
      entity["command_topic"] = command_topic;
      entity["unit_of_measurement"] = control.unit;
      entity["mode"] = "box";
      entity["min"] = control.has_range ? control.min : 0.0;
      entity["max"] = control.has_range ? control.max : 9999.0;
      break;
    case HomeAssistantComponent::kButton:
      component = "button";
      entity.erase("state_topic");
      entity["command_topic"] = command_topic;
      entity["payload_press"] = "1";
      break;
    default:
      if (control.writable) {
        component = "switch";
        entity["command_topic"] = command_topic;
        entity["state_on"] = "1";
        entity["state_off"] = "0";
      } else {
        component = "binary_sensor";
      }
      entity["payload_on"] = "1";
      entity["payload_off"] = "0";
  }
  return Discovery{discovery_prefix + "/" + component + "/" + node + "/" + control.name + "/config",
                   entity.dump()};
}

}  // namespace tk571::gateway
