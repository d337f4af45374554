// The running gateway for one configuration: the journal, the broker link,
// one worker per line, the Modbus server when configured, and the road of
// writes from any source (the broker, Modbus TCP) through the write policy to
// the line that owns the device, with every write and its outcome in the audit
// trail. A reload builds a new Gateway after the old one has stopped.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "audit_trail.h"
#include "batch_journal.h"
#include "batch_service.h"
#include "driver_library.h"
#include "gateway_config.h"
#include "journal_db.h"
#include "line_plan.h"
#include "line_worker.h"
#include "log_throttle.h"
#include "modbus_server.h"
#include "mqtt_link.h"
#include "register_map.h"
#include "retention.h"
#include "topics.h"
#include "write_policy.h"
#include "write_road.h"

namespace tk571::gateway {

class Gateway : public WriteRoad {
 public:
  Gateway(const GatewayConfig& config, std::vector<LinePlan> plans, RegisterMap map,
          host::DriverLibrary& library);
  // Stops the Modbus server and the lines (FreeDriver on each), then says
  // "offline" and disconnects.
  ~Gateway() override;
  Gateway(const Gateway&) = delete;
  Gateway& operator=(const Gateway&) = delete;

  bool Start(std::string* error);

  std::vector<std::string> RetainedTopics() const { return link_->RetainedTopics(); }
  // Removes the retained messages of an earlier configuration's controls that
  // this one does not have.
  void ClearStale(const std::vector<std::string>& earlier_topics);

  // The one way in for writes, whatever their source ("mqtt", "modbus"; it
  // names the source in the log): the policy decides, an allowed write is
  // queued for the line, a refused one gets one bounded log line and `w` in
  // the control's `meta/error`. Any thread.
  // `origin`: where the write came from, for the audit trail (the topic, and
  // the client and user where the source knows them).
  WriteVerdict SubmitWrite(const std::string& device, const std::string& control,
                           std::string_view payload, std::string_view source,
                           const WriteSource& origin = {});
  // The Modbus server's way onto that road.
  WriteVerdict Submit(const std::string& device, const std::string& control,
                      const std::string& payload) override;

 private:
  void OnMessage(const std::string& topic, const std::string& payload, bool retained);
  void Refused(LineWorker* worker, const std::string& device, const std::string& control,
               std::string_view payload, std::string_view source, const WriteSource& from,
               const WriteDecision& decision);
  // Summaries of held-back log lines once a second and the metrics every
  // few seconds, until the gateway stops.
  void Housekeeping();
  void PublishMetrics();

  GatewayConfig config_;
  Topics topics_;
  std::vector<LinePlan> plans_;
  RegisterMap map_;
  host::DriverLibrary& library_;
  std::unique_ptr<JournalDb> db_;
  std::unique_ptr<BatchJournal> batch_journal_;
  std::unique_ptr<AuditTrail> audit_;
  std::unique_ptr<Retention> retention_;
  WritePolicy policy_;
  LogThrottle refusal_log_;
  // Declared before the service that its callbacks reach; the destructor
  // ends it first.
  std::unique_ptr<MqttLink> link_;
  std::unique_ptr<BatchService> batch_service_;
  std::vector<std::unique_ptr<LineWorker>> workers_;
  std::unique_ptr<ModbusServer> modbus_;
  std::mutex route_mutex_;
  std::map<std::string, LineWorker*> worker_of_device_;
  std::mutex housekeeping_mutex_;
  std::condition_variable housekeeping_wake_;
  bool stopping_ = false;
  std::thread housekeeping_;
};

}  // namespace tk571::gateway
