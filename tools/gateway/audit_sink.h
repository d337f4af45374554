// Where the write road reports every write and what became of it. The road
// calls it; the audit trail (audit_trail.h) is the sink of the running
// gateway.
#pragma once

#include <cstdint>
#include <string>

#include "batch_record.h"

namespace tk571::gateway {

enum class WriteOutcome { kQueued, kRefused, kDone, kFailed };

const char* OutcomeText(WriteOutcome outcome);

struct WriteEvent {
  int64_t at_ms = 0;  // UTC, milliseconds since 1970
  std::string device;
  std::string control;
  std::string before;  // the value the gateway last saw; empty when none
  std::string after;   // the value asked for (cut short, control characters escaped)
  WriteSource source;
  WriteOutcome outcome = WriteOutcome::kQueued;
  std::string reason;  // why refused or failed
};

class AuditSink {
 public:
  virtual ~AuditSink() = default;
  // Any thread; never throws (a failure is logged by the sink).
  virtual void RecordWrite(const WriteEvent& event) = 0;
};

}  // namespace tk571::gateway
