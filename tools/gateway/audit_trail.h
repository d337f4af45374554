// The audit trail: every write, append-only, each entry chained to the one
// before it by a SHA-256 over its own content and the previous entry's hash.
// Changing an entry breaks its hash; removing one breaks the next entry's
// link. Retention removes whole prefixes only and keeps the hash of the last
// removed entry, so the rest still verifies.
#pragma once

#include <cstdint>
#include <string>

#include "audit_sink.h"
#include "journal_db.h"

namespace tk571::gateway {

struct AuditEntry {
  int64_t id = 0;  // 1, 2, 3 ... without gaps
  WriteEvent event;
  std::string prev_hash;  // hex; empty for the first entry ever
  std::string hash;
};

// The entry's hash: SHA-256 (hex) over every field, each with its length, so
// that no two entries share a text.
std::string AuditHash(const AuditEntry& entry);

struct VerifyResult {
  bool good = true;
  int64_t entries = 0;  // entries checked
  std::string text;     // one line: "audit trail good: ..." or what is wrong
};

class AuditTrail : public AuditSink {
 public:
  explicit AuditTrail(JournalDb& db) : db_(db) {}

  void RecordWrite(const WriteEvent& event) override;
  // As RecordWrite, but a failure throws.
  AuditEntry Append(const WriteEvent& event);
  VerifyResult Verify();
  // Removes the entries before `before_ms` (as a prefix: up to the newest of
  // them); answers how many.
  int64_t PruneBefore(int64_t before_ms);

 private:
  JournalDb& db_;
};

}  // namespace tk571::gateway
