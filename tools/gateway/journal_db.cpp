#include "journal_db.h"

#include <sqlite3.h>

#include <vector>

namespace tk571::gateway {
namespace {

// Each step takes the schema from version i to i + 1; a step that has
// shipped is never changed, a change is a new step.
const std::vector<const char*>& Migrations() {
  static const std::vector<const char*> steps = {
      R"sql(
CREATE TABLE batch (
  id INTEGER PRIMARY KEY,
  device TEXT NOT NULL,
  device_number INTEGER NOT NULL,
  sequence INTEGER NOT NULL,
  started_ms INTEGER,
  ended_ms INTEGER NOT NULL,
  origin_control TEXT NOT NULL,
  origin_topic TEXT NOT NULL,
  origin_client TEXT NOT NULL,
  origin_user TEXT NOT NULL,
  unit TEXT NOT NULL,
  published INTEGER NOT NULL DEFAULT 0,
  UNIQUE (device, sequence));
CREATE TABLE batch_curve (
  batch_id INTEGER PRIMARY KEY REFERENCES batch (id) ON DELETE CASCADE,
  points BLOB NOT NULL);
CREATE INDEX batch_ended ON batch (ended_ms);
CREATE INDEX batch_unpublished ON batch (id) WHERE published = 0;
CREATE TABLE batch_material (
  batch_id INTEGER NOT NULL REFERENCES batch (id) ON DELETE CASCADE,
  material INTEGER NOT NULL CHECK (material BETWEEN 1 AND 4),
  final_sp REAL,
  coarse_sp REAL,
  fine_sp REAL,
  amount REAL,
  deviation REAL,
  tolerance REAL,
  verdict TEXT NOT NULL CHECK (verdict IN ('in', 'out', 'none')),
  PRIMARY KEY (batch_id, material)) WITHOUT ROWID;
CREATE TABLE audit (
  id INTEGER PRIMARY KEY,
  at_ms INTEGER NOT NULL,
  device TEXT NOT NULL,
  control TEXT NOT NULL,
  before TEXT NOT NULL,
  after TEXT NOT NULL,
  topic TEXT NOT NULL,
  client TEXT NOT NULL,
  user TEXT NOT NULL,
  outcome TEXT NOT NULL,
  reason TEXT NOT NULL,
  prev_hash TEXT NOT NULL,
  hash TEXT NOT NULL);
CREATE TABLE audit_anchor (
  only INTEGER PRIMARY KEY CHECK (only = 1),
  last_pruned_id INTEGER NOT NULL,
  last_pruned_hash TEXT NOT NULL,
  head_id INTEGER NOT NULL,
  head_hash TEXT NOT NULL);
INSERT INTO audit_anchor VALUES (1, 0, '', 0, '');
CREATE TRIGGER audit_append_only BEFORE UPDATE ON audit
  BEGIN SELECT RAISE(ABORT, 'the audit trail is append-only'); END;
CREATE TRIGGER audit_prune_prefix BEFORE DELETE ON audit
  WHEN OLD.id > (SELECT last_pruned_id FROM audit_anchor)
  BEGIN SELECT RAISE(ABORT, 'only a pruned prefix of the audit trail may go'); END;
)sql",
  };
  return steps;
}

}  // namespace

JournalDb::JournalDb(const std::string& path) : path_(path) {
  const int rc =
      sqlite3_open_v2(path.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) Fail("cannot open");
  // A report that reads while the gateway writes waits this long at most.
  sqlite3_busy_timeout(db_, 5000);
  Exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL; PRAGMA foreign_keys = ON;");
  Migrate();
}

JournalDb::~JournalDb() {
  sqlite3_close_v2(db_);
}

int JournalDb::SchemaVersion() {
  return static_cast<int>(Migrations().size());
}

void JournalDb::Fail(const std::string& what) const {
  throw JournalError("journal " + path_ + ": " + what + ": " +
                     (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory"));
}

void JournalDb::Exec(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return;
  const std::string reason = message != nullptr ? message : "failed";
  sqlite3_free(message);
  throw JournalError("journal " + path_ + ": " + reason);
}

int64_t JournalDb::LastInsertId() {
  return sqlite3_last_insert_rowid(db_);
}

int64_t JournalDb::Changes() {
  return sqlite3_changes64(db_);
}

void JournalDb::Migrate() {
  // Two programs that open a new file at once must not both create it.
  Transaction transaction(*this);
  Statement version(*this, "PRAGMA user_version");
  version.Step();
  const int64_t found = version.Int(0);
  if (found > SchemaVersion()) {
    throw JournalError("journal " + path_ + ": schema version " + std::to_string(found) +
                       " is newer than this program's " + std::to_string(SchemaVersion()));
  }
  if (found == SchemaVersion()) return;
  for (int64_t step = found; step < SchemaVersion(); ++step) {
    Exec(Migrations()[static_cast<std::size_t>(step)]);
  }
  Exec("PRAGMA user_version = " + std::to_string(SchemaVersion()));
  transaction.Commit();
}

Statement::Statement(JournalDb& db, const char* sql) : db_(db) {
  if (sqlite3_prepare_v2(db.Handle(), sql, -1, &stmt_, nullptr) != SQLITE_OK) {
    db.Fail("cannot prepare");
  }
}

Statement::~Statement() {
  sqlite3_finalize(stmt_);
}

Statement& Statement::Bind(int index, int64_t value) {
  sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, double value) {
  sqlite3_bind_double(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, const std::string& text) {
  sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::Bind(int index, const std::optional<double>& value) {
  if (value) return Bind(index, *value);
  sqlite3_bind_null(stmt_, index);
  return *this;
}

Statement& Statement::Bind(int index, const std::optional<int64_t>& value) {
  if (value) return Bind(index, *value);
  sqlite3_bind_null(stmt_, index);
  return *this;
}

Statement& Statement::BindBlob(int index, const std::string& bytes) {
  sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  db_.Fail("cannot run \"" + std::string(sqlite3_sql(stmt_)).substr(0, 60) + "\"");
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int64_t Statement::Int(int column) const {
  return sqlite3_column_int64(stmt_, column);
}

double Statement::Real(int column) const {
  return sqlite3_column_double(stmt_, column);
}

std::optional<double> Statement::OptionalReal(int column) const {
  if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
  return Real(column);
}

std::optional<int64_t> Statement::OptionalInt(int column) const {
  if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
  return Int(column);
}

std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(stmt_, column);
  return text == nullptr
             ? std::string()
             : std::string(reinterpret_cast<const char*>(text),
                           static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::string Statement::Blob(int column) const {
  const void* bytes = sqlite3_column_blob(stmt_, column);
  return bytes == nullptr
             ? std::string()
             : std::string(static_cast<const char*>(bytes),
                           static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

Transaction::Transaction(JournalDb& db) : db_(db) {
  db_.Exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (!done_) sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit() {
  db_.Exec("COMMIT");
  done_ = true;
}

}  // namespace tk571::gateway
