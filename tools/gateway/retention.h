// How long the journal keeps batches and audit entries: older ones are
// removed at start and then once a day, the audit trail as a prefix whose
// last hash stays as the anchor of the rest.
#pragma once

#include <cstdint>
#include <mutex>

#include "audit_trail.h"
#include "batch_journal.h"

namespace tk571::gateway {

class Retention {
 public:
  Retention(BatchJournal& batches, AuditTrail& audit, int days)
      : batches_(batches), audit_(audit), days_(days) {}

  // Prunes when a day has passed since the last time (or never ran).
  void Due(int64_t now_ms);

 private:
  BatchJournal& batches_;
  AuditTrail& audit_;
  int days_;
  std::mutex mutex_;
  int64_t last_ms_ = 0;
};

}  // namespace tk571::gateway
