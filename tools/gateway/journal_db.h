// The gateway's journal database (SQLite in the state directory): one file
// holds the batch journal and the audit trail. The schema carries its version
// (user_version) and is migrated on open; the file runs in WAL mode, so a
// reader (a report) never blocks the gateway and a crash leaves every
// transaction either whole or absent.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace tk571::gateway {

// Any failure of the database: the message names the file and SQLite's reason.
class JournalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class JournalDb {
 public:
  // Opens or creates the file and brings its schema to the current version;
  // a file of a newer program is refused.
  explicit JournalDb(const std::string& path);
  ~JournalDb();
  JournalDb(const JournalDb&) = delete;
  JournalDb& operator=(const JournalDb&) = delete;

  static int SchemaVersion();
  const std::string& Path() const { return path_; }
  sqlite3* Handle() { return db_; }
  // One connection serves the line threads, the broker thread and the
  // forwarder: each unit of work holds this lock.
  std::mutex& Lock() { return mutex_; }
  void Exec(const std::string& sql);
  int64_t LastInsertId();
  int64_t Changes();
  [[noreturn]] void Fail(const std::string& what) const;

 private:
  void Migrate();

  std::string path_;
  sqlite3* db_ = nullptr;
  std::mutex mutex_;
};

class Statement {
 public:
  Statement(JournalDb& db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, double value);
  Statement& Bind(int index, const std::string& text);
  Statement& Bind(int index, const std::optional<double>& value);
  Statement& Bind(int index, const std::optional<int64_t>& value);
  Statement& BindBlob(int index, const std::string& bytes);
  // True while there is a row; false once the statement is done.
  bool Step();
  void Run() {
    while (Step()) {
    }
  }
  // For the next row of a statement run once per row.
  void Reset();

  int64_t Int(int column) const;
  double Real(int column) const;
  std::optional<double> OptionalReal(int column) const;
  std::optional<int64_t> OptionalInt(int column) const;
  std::string Text(int column) const;
  std::string Blob(int column) const;

 private:
  JournalDb& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// BEGIN IMMEDIATE .. COMMIT; rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(JournalDb& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  JournalDb& db_;
  bool done_ = false;
};

}  // namespace tk571::gateway
