// The running gateway for one configuration: the journal, the broker link,
// one worker per line, and the routing of writes from the broker to the line
// that owns the device. A reload builds a new Gateway after the old one has
// stopped.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audit_trail.h"
#include "batch_journal.h"
#include "batch_service.h"
#include "driver_library.h"
#include "gateway_config.h"
#include "journal_db.h"
#include "line_plan.h"
#include "line_worker.h"
#include "mqtt_link.h"
#include "retention.h"
#include "topics.h"

namespace tk571::gateway {

class Gateway {
 public:
  Gateway(const GatewayConfig& config, std::vector<LinePlan> plans, host::DriverLibrary& library);
  // Stops the lines (FreeDriver on each), then says "offline" and disconnects.
  ~Gateway();
  Gateway(const Gateway&) = delete;
  Gateway& operator=(const Gateway&) = delete;

  bool Start(std::string* error);

  std::vector<std::string> RetainedTopics() const { return link_->RetainedTopics(); }
  // Removes the retained messages of an earlier configuration's controls that
  // this one does not have.
  void ClearStale(const std::vector<std::string>& earlier_topics);

 private:
  void OnMessage(const std::string& topic, const std::string& payload, bool retained);

  GatewayConfig config_;
  Topics topics_;
  std::vector<LinePlan> plans_;
  host::DriverLibrary& library_;
  std::unique_ptr<JournalDb> db_;
  std::unique_ptr<BatchJournal> batch_journal_;
  std::unique_ptr<AuditTrail> audit_;
  std::unique_ptr<Retention> retention_;
  // Declared before the service that its callbacks reach; the destructor
  // ends it first.
  std::unique_ptr<MqttLink> link_;
  std::unique_ptr<BatchService> batch_service_;
  std::vector<std::unique_ptr<LineWorker>> workers_;
  std::mutex route_mutex_;
  std::map<std::string, LineWorker*> worker_of_device_;
};

}  // namespace tk571::gateway
