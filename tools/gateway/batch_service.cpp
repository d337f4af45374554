#include "batch_service.h"

#include "batch_json.h"
#include "log.h"
#include "time_text.h"

namespace tk571::gateway {
namespace {

// The client resends what it holds after a reconnection; more than this many
// are not handed to it at once.
constexpr std::size_t kMaxInFlight = 20;

}  // namespace

BatchService::BatchService(BatchJournal& journal, Retention& retention, MqttLink& link,
                           const Topics& topics, BatchPolicy policy)
    : journal_(journal),
      retention_(retention),
      link_(link),
      topics_(topics),
      policy_(std::move(policy)) {}

void BatchService::Start(const std::vector<std::string>& devices) {
  retention_.Due(NowMs());
  for (const std::string& device : devices) {
    if (const std::optional<BatchRecord> last = Last(device)) PublishState(*last);
  }
  link_.OnDelivery([this] { Forward(); }, [this](int mid) { Acknowledged(mid); });
}

std::optional<BatchRecord> BatchService::Last(const std::string& device) {
  try {
    return journal_.Last(device);
  } catch (const JournalError& e) {
    Log(e.what());
    return std::nullopt;
  }
}

void BatchService::Finished(BatchRecord batch) {
  const auto tolerances = policy_.tolerances.find(batch.device);
  Evaluate(tolerances == policy_.tolerances.end() ? Tolerances{} : tolerances->second, &batch);
  try {
    journal_.Add(&batch);
  } catch (const JournalError& e) {
    // Still shown as the last batch; without a number it cannot be an event.
    Log(batch.device + ": the batch is not in the journal: " + e.what());
  }
  PublishState(batch);
  Forward();
  retention_.Due(batch.ended_ms);
}

void BatchService::PublishState(const BatchRecord& batch) {
  link_.Publish(topics_.Batch(batch.device), BatchJson(batch).dump());
  std::vector<FineAdvice> advice;
  try {
    advice = SuggestFine(
        journal_.Recent(batch.device, static_cast<std::size_t>(policy_.advice_batches)));
  } catch (const JournalError& e) {
    Log(e.what());
  }
  link_.Publish(topics_.BatchAdvice(batch.device), AdvicePayload(batch, advice));
  // Retained until a batch in tolerance clears it.
  link_.Publish(topics_.BatchAlarm(batch.device), AlarmPayload(batch));
}

void BatchService::Forward() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (handed_.size() >= kMaxInFlight) return;
  std::vector<BatchRecord> pending;
  try {
    pending = journal_.Unpublished(kMaxInFlight + handed_.size());
  } catch (const JournalError& e) {
    Log(e.what());
    return;
  }
  for (const BatchRecord& batch : pending) {
    if (handed_.count(batch.id) != 0) continue;
    if (handed_.size() >= kMaxInFlight) break;
    int mid = 0;
    if (!link_.PublishEvent(topics_.BatchEvents(batch.device), BatchJson(batch).dump(), &mid)) {
      break;
    }
    in_flight_[mid] = batch.id;
    handed_.insert(batch.id);
  }
}

void BatchService::Acknowledged(int mid) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = in_flight_.find(mid);
    if (found == in_flight_.end()) return;  // a retained message
    try {
      journal_.MarkPublished(found->second);
    } catch (const JournalError& e) {
      // Sent again after the next start: a repeat the sequence number shows.
      Log(e.what());
    }
    handed_.erase(found->second);
    in_flight_.erase(found);
  }
  Forward();
}

}  // namespace tk571::gateway
