// Topic names and payloads in the convention of serial-to-MQTT gateways:
//
//   <prefix>/devices/<device>/controls/<control>             value (retained)
//   <prefix>/devices/<device>/controls/<control>/meta        JSON (retained)
//   <prefix>/devices/<device>/controls/<control>/meta/error  "r", "w", "rw" or empty
//   <prefix>/devices/<device>/controls/<control>/on          writes from consumers
//   <prefix>/devices/<device>/meta                           JSON (retained)
//   <prefix>/devices/<device>/meta/error                     "r" while its link is not normal
//   <prefix>/devices/<device>/batch                          JSON of the last batch
//   <prefix>/devices/<device>/batch/events                   every batch once (QoS 1)
//   <prefix>/devices/<device>/batch/advice                   deviation, FINE advice
//   <prefix>/devices/<device>/batch/alarm                    while out of tolerance
//   <prefix>/gateway/<client id>/status                      online / offline (last will)
//   <prefix>/gateway/<client id>/metrics                     JSON: the broker link
//   <prefix>/gateway/<client id>/lines/<line>/metrics        JSON: a line's figures
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "line_plan.h"
#include "tk571/driver.h"

namespace tk571::gateway {

class Topics {
 public:
  explicit Topics(std::string prefix) : prefix_(std::move(prefix)) {}

  std::string Control(const std::string& device, const std::string& control) const;
  std::string Meta(const std::string& device, const std::string& control) const;
  std::string MetaError(const std::string& device, const std::string& control) const;
  std::string DeviceMeta(const std::string& device) const;
  std::string DeviceMetaError(const std::string& device) const;
  std::string Batch(const std::string& device) const;
  std::string BatchEvents(const std::string& device) const;
  std::string BatchAdvice(const std::string& device) const;
  std::string BatchAlarm(const std::string& device) const;
  std::string Status(const std::string& client_id) const;
  std::string Metrics(const std::string& client_id) const;
  std::string LineMetrics(const std::string& client_id, const std::string& line) const;
  // What the gateway subscribes to for writes.
  std::string WritePattern() const;
  // The device and control of a write topic; nullopt for any other topic.
  std::optional<std::pair<std::string, std::string>> ParseWrite(const std::string& topic) const;

 private:
  std::string prefix_;
};

// A number in its shortest exact form: "12.5", "500".
std::string NumberText(double value);
// The value as the convention carries it: "12.5", "500", "1"/"0", UTF-8 text.
std::string ValuePayload(const TTagValueRec& record);
// {"type":"value","units":"kg","readonly":true,"title":{"en":..,"zh":..},...}
std::string MetaPayload(const Control& control, int order);
// {"name":"scale1","number":1,"line":"line1","model":"TK571"}
std::string DeviceMetaPayload(const DeviceConfig& device, const std::string& line);

// One final amount of a batch, as the controller shows it.
struct BatchAmount {
  int material = 0;
  double amount = 0;
};
// The discovery topic and payload of a control for Home Assistant, or
// nothing for a control that makes no entity.
struct Discovery {
  std::string topic;
  std::string payload;
};
// Home Assistant's entity is available while the gateway is online and the
// device's link is normal.
std::optional<Discovery> HomeAssistantDiscovery(const Control& control, const Topics& topics,
                                                const std::string& discovery_prefix,
                                                const std::string& client_id, int qos);

}  // namespace tk571::gateway
