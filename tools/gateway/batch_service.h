// What becomes of a finished batch: judged against the device's tolerances,
// written to the journal, published as the retained last batch with the
// device's advice and alarm, and forwarded as a batch event. The journal is
// the event queue: events go out at QoS 1, oldest first, once connected,
// and a batch counts as published only when the broker acknowledged it, so
// an outage, a restart or a reload neither loses nor repeats one.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "batch_journal.h"
#include "batch_quality.h"
#include "mqtt_link.h"
#include "retention.h"
#include "topics.h"

namespace tk571::gateway {

struct BatchPolicy {
  std::map<std::string, Tolerances> tolerances;  // by device name
  int advice_batches = 5;
};

class BatchService {
 public:
  BatchService(BatchJournal& journal, Retention& retention, MqttLink& link, const Topics& topics,
               BatchPolicy policy);

  // The retained batch, advice and alarm of each device from the journal,
  // and the link's delivery hooks; before the link starts.
  void Start(const std::vector<std::string>& devices);
  std::optional<BatchRecord> Last(const std::string& device);
  // A line thread's finished batch.
  void Finished(BatchRecord batch);

 private:
  void PublishState(const BatchRecord& batch);
  void Forward();
  void Acknowledged(int mid);

  BatchJournal& journal_;
  Retention& retention_;
  MqttLink& link_;
  const Topics& topics_;
  BatchPolicy policy_;
  std::mutex mutex_;
  std::map<int, int64_t> in_flight_;  // message id -> batch
  std::set<int64_t> handed_;          // batches the client holds until acknowledged
};

}  // namespace tk571::gateway
