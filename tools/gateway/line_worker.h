// One serial line: its own thread with its own driver object (IniDriver,
// IniDriverEx with an eventfd, OnDataRead at the period DetectScanTime gives,
// OnDataWrite for writes from the broker, FreeDriver at the end), publishing
// every change. A driver that does not start (port missing, say) is tried
// again every few seconds.
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audit_sink.h"
#include "batch_recorder.h"
#include "batch_service.h"
#include "driver_library.h"
#include "line_metrics.h"
#include "line_plan.h"
#include "live_values.h"
#include "mqtt_link.h"
#include "tag_records.h"
#include "topics.h"

namespace tk571::gateway {

class LineWorker {
 public:
  LineWorker(host::DriverLibrary& library, LinePlan plan, const Topics& topics, MqttLink& link,
             BatchService& batches, AuditSink& audit);
  // Stops the driver (FreeDriver) and the thread.
  ~LineWorker();
  LineWorker(const LineWorker&) = delete;
  LineWorker& operator=(const LineWorker&) = delete;

  // Publishes the line's meta data and starts the thread.
  void Start();

  const LinePlan& Plan() const { return plan_; }
  const LineMetrics& Metrics() const { return metrics_; }
  // The line's latest state, for readers that must not wait for the line.
  const LineValues& Values() const { return values_; }

  // A write the policy allowed, with the value as the driver takes it; any
  // thread. It is answered on the line's thread; false when too many are
  // waiting. `source` goes into the audit trail with its outcome.
  bool RequestWrite(const std::string& device, const std::string& control, const std::string& value,
                    const WriteSource& source);
  // A write the policy refused: the control's meta/error gets its `w`. Any
  // thread.
  void NoteRefused(const std::string& device, const std::string& control);
  // The control's value as last reported (the "before" of a write); any thread.
  std::string LastValue(const std::string& device, const std::string& control);

 private:
  struct WriteRequest {
    std::size_t index = 0;
    std::string value;
    WriteSource source;
  };
  // A write the driver took, until the tag's next report tells its end.
  struct PendingWrite {
    std::string before;
    std::string after;
    WriteSource source;
  };

  void Run();
  bool StartDriver();
  void PollDriver(std::vector<TTagValueRec>& records);
  void HandleRecord(const TTagValueRec& record, std::vector<int>* finished_devices);
  void ServeWrites();
  void Answer(const WriteRequest& request);
  void RefuseWrite(std::size_t index, const WriteRequest& request, const std::string& what);
  void Audit(const std::string& device, const std::string& control, const std::string& before,
             const std::string& after, const WriteSource& source, WriteOutcome outcome,
             const std::string& reason) const;
  void WriteEnded(std::size_t index, const TTagValueRec& record, const std::string& payload,
                  bool failed);
  BatchRecorder* RecorderOf(const Control& c);
  void FeedRecorder(const Control& c, const TTagValueRec& record, bool failed);
  void FeedWrite(const Control& c, const TTagValueRec& record, const WriteSource& source);
  // Sleeps until `deadline`, a write request or a stop; reports a severe
  // failure the driver signals meanwhile.
  void WaitUntil(std::chrono::steady_clock::time_point deadline);
  void PublishError(std::size_t index);
  // Why a write to `device` cannot go out now; empty when it can.
  std::string Unreachable(int device) const;
  void LogLine(const std::string& text) const;
  void DriverMessage(char* raw);
  // Publishes and counts a value the broker will never see.
  void Publish(const std::string& topic, const std::string& payload);

  host::DriverLibrary& lib_;
  LinePlan plan_;
  const Topics& topics_;
  MqttLink& link_;
  BatchService& batch_service_;
  AuditSink& audit_;
  std::vector<host::TagDefinition> definitions_;
  std::map<uint32_t, std::size_t> index_of_id_;
  std::map<std::pair<std::string, std::string>, std::size_t> index_of_topic_;
  std::map<int, BatchRecorder> recorders_;  // by device number
  std::map<int, std::string> device_names_;

  // Owned by the line's thread.
  bool running_ = false;
  double line_link_ = -1;
  std::map<int, double> device_link_;
  bool failure_reported_ = false;
  std::string last_message_;
  std::vector<bool> write_error_;
  std::vector<std::optional<std::string>> published_error_;
  std::mutex value_mutex_;  // last_payload_, which other threads read
  std::vector<std::string> last_payload_;
  std::vector<std::optional<PendingWrite>> pending_;

  int failure_fd_ = -1;
  int wake_fd_ = -1;
  LineMetrics metrics_;
  LineValues values_{plan_, metrics_};
  std::atomic<bool> stop_{false};
  std::mutex queue_mutex_;
  std::deque<WriteRequest> queue_;
  std::vector<std::size_t> refused_;  // controls whose write was refused, for meta/error
  std::thread thread_;
};

}  // namespace tk571::gateway
