#include "audit_trail.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>

#include "log.h"

namespace tk571::gateway {
namespace {

constexpr const char* kEntryColumns =
    "SELECT id, at_ms, device, control, before, after, topic, client, user, outcome, reason, "
    "prev_hash, hash FROM audit ";

void Field(std::string* text, const std::string& value) {
  *text += std::to_string(value.size());
  *text += ':';
  *text += value;
  *text += ';';
}

AuditEntry EntryOf(const Statement& row) {
  AuditEntry e;
  e.id = row.Int(0);
  e.event.at_ms = row.Int(1);
  e.event.device = row.Text(2);
  e.event.control = row.Text(3);
  e.event.before = row.Text(4);
  e.event.after = row.Text(5);
  e.event.source = WriteSource{row.Text(6), row.Text(7), row.Text(8)};
  // The outcome is hashed as stored; a value no program writes shows as a
  // changed entry.
  e.event.reason = row.Text(10);
  e.prev_hash = row.Text(11);
  e.hash = row.Text(12);
  return e;
}

std::string OutcomeStored(const Statement& row) {
  return row.Text(9);
}

std::string HashOf(const AuditEntry& entry, const std::string& outcome) {
  std::string text;
  Field(&text, std::to_string(entry.id));
  Field(&text, std::to_string(entry.event.at_ms));
  Field(&text, entry.event.device);
  Field(&text, entry.event.control);
  Field(&text, entry.event.before);
  Field(&text, entry.event.after);
  Field(&text, entry.event.source.topic);
  Field(&text, entry.event.source.client);
  Field(&text, entry.event.source.user);
  Field(&text, outcome);
  Field(&text, entry.event.reason);
  Field(&text, entry.prev_hash);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr);
  std::string hex;
  char pair[3];
  for (unsigned int i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

}  // namespace

const char* OutcomeText(WriteOutcome outcome) {
  switch (outcome) {
    case WriteOutcome::kQueued:
      return "queued";
    case WriteOutcome::kRefused:
      return "refused";
    case WriteOutcome::kDone:
      return "done";
    case WriteOutcome::kFailed:
      break;
  }
  return "failed";
}

std::string AuditHash(const AuditEntry& entry) {
  return HashOf(entry, OutcomeText(entry.event.outcome));
}

void AuditTrail::RecordWrite(const WriteEvent& event) {
  try {
    Append(event);
  } catch (const JournalError& e) {
    Log(std::string("audit trail: the write of ") + event.device + "/" + event.control +
        " is not recorded: " + e.what());
  }
}

AuditEntry AuditTrail::Append(const WriteEvent& event) {
  const std::lock_guard<std::mutex> lock(db_.Lock());
  Transaction transaction(db_);
  Statement head(db_, "SELECT head_id, head_hash FROM audit_anchor");
  head.Step();
  AuditEntry entry;
  entry.id = head.Int(0) + 1;
  entry.event = event;
  entry.prev_hash = head.Text(1);
  entry.hash = AuditHash(entry);
  Statement insert(db_,
                   "INSERT INTO audit (id, at_ms, device, control, before, after, topic, client, "
                   "user, outcome, reason, prev_hash, hash) "
                   "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
  insert.Bind(1, entry.id)
      .Bind(2, event.at_ms)
      .Bind(3, event.device)
      .Bind(4, event.control)
      .Bind(5, event.before)
      .Bind(6, event.after)
      .Bind(7, event.source.topic)
      .Bind(8, event.source.client)
      .Bind(9, event.source.user)
      .Bind(10, std::string(OutcomeText(event.outcome)))
      .Bind(11, event.reason)
      .Bind(12, entry.prev_hash)
      .Bind(13, entry.hash)
      .Run();
  Statement(db_, "UPDATE audit_anchor SET head_id = ?1, head_hash = ?2")
      .Bind(1, entry.id)
      .Bind(2, entry.hash)
      .Run();
  transaction.Commit();
  return entry;
}

VerifyResult AuditTrail::Verify() {
  const std::lock_guard<std::mutex> lock(db_.Lock());
  Statement anchor(db_,
                   "SELECT last_pruned_id, last_pruned_hash, head_id, head_hash FROM audit_anchor");
  anchor.Step();
  const int64_t pruned = anchor.Int(0);
  std::string prev_hash = anchor.Text(1);
  const int64_t head_id = anchor.Int(2);
  const std::string head_hash = anchor.Text(3);
  VerifyResult result;
  const auto bad = [&](const std::string& text) {
    result.good = false;
    result.text = "audit trail broken: " + text;
    return result;
  };
  int64_t expected = pruned + 1;
  Statement rows(db_, (std::string(kEntryColumns) + "ORDER BY id").c_str());
  while (rows.Step()) {
    AuditEntry e = EntryOf(rows);
    if (e.id > expected) {
      return bad("entry " + std::to_string(expected) +
                 (e.id == expected + 1 ? " was removed"
                                       : " to " + std::to_string(e.id - 1) + " were removed"));
    }
    if (e.id < expected)
      return bad("entry " + std::to_string(e.id) + " lies before the pruned part");
    if (HashOf(e, OutcomeStored(rows)) != e.hash) {
      return bad("entry " + std::to_string(e.id) + " was changed (its hash does not match)");
    }
    // An entry whose hash was made anew after a change still breaks the
    // link of the entry after it.
    if (e.prev_hash != prev_hash) {
      return bad("entry " + std::to_string(e.id - 1) + " was changed (entry " +
                 std::to_string(e.id) + " does not link to it)");
    }
    prev_hash = e.hash;
    ++expected;
    ++result.entries;
  }
  if (expected - 1 < head_id) {
    return bad("entry " + std::to_string(expected) +
               (expected == head_id ? " was removed"
                                    : " to " + std::to_string(head_id) + " were removed"));
  }
  if (expected - 1 > head_id || prev_hash != head_hash) {
    return bad("entry " + std::to_string(head_id) + " is not the last one written");
  }
  result.text = "audit trail good: " + std::to_string(result.entries) + " entries" +
                (pruned > 0 ? ", after " + std::to_string(pruned) + " pruned" : "");
  return result;
}

int64_t AuditTrail::PruneBefore(int64_t before_ms) {
  const std::lock_guard<std::mutex> lock(db_.Lock());
  Transaction transaction(db_);
  Statement last(
      db_, "SELECT id, hash FROM audit WHERE id = (SELECT max(id) FROM audit WHERE at_ms < ?1)");
  if (!last.Bind(1, before_ms).Step()) return 0;
  const int64_t id = last.Int(0);
  Statement(db_, "UPDATE audit_anchor SET last_pruned_id = ?1, last_pruned_hash = ?2")
      .Bind(1, id)
      .Bind(2, last.Text(1))
      .Run();
  Statement(db_, "DELETE FROM audit WHERE id <= ?1").Bind(1, id).Run();
  const int64_t removed = db_.Changes();
  transaction.Commit();
  return removed;
}

}  // namespace tk571::gateway
