#pragma once
// Thin RAII wrappers over the SQLite 3 C interface. Every failing call throws SqliteError
// carrying SQLite's result codes and its message; nothing here retries or logs.

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace dexweb::platform {

class SqliteError : public std::runtime_error {
 public:
  SqliteError(int code, int extended_code, std::string message);
  // The primary result code (SQLITE_BUSY, ...) and the extended one (SQLITE_BUSY_SNAPSHOT, ...).
  int code() const noexcept { return code_; }
  int extended_code() const noexcept { return extended_; }
  // SQLite's own text for the primary code, e.g. "database is locked".
  std::string code_text() const;
  // The connection's message for this failure, e.g. "no such table: x".
  const std::string& message() const noexcept { return message_; }

 private:
  int code_;
  int extended_;
  std::string message_;
};

enum class SqliteType { Integer, Float, Text, Blob, Null };

// One prepared statement. Move-only; finalized on destruction.
class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
  SqliteStatement(SqliteStatement&&) noexcept;
  SqliteStatement& operator=(SqliteStatement&&) noexcept;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;
  ~SqliteStatement();

  // False for text that holds no statement (only blanks or comments).
  explicit operator bool() const { return stmt_ != nullptr; }
  // Runs to the next row: true when a row is ready, false when the statement is done.
  bool step();
  // Makes the statement ready to run again from its start (its error, if any, was thrown by
  // step already), every "?" unbound.
  void reset() noexcept;
  // Binds the value of the index-th "?" (from 1). A text is borrowed, not copied: it must
  // stay alive and unchanged until the statement is reset, bound again or destroyed.
  void bind(int index, std::int64_t value);
  void bind(int index, std::string_view value);

  int column_count() const;
  std::string column_name(int i) const;
  // The declared type of the column in its table ("BOOLEAN", "DATETIME"...); empty for
  // expressions.
  std::string column_decltype(int i) const;
  SqliteType column_type(int i) const;
  std::int64_t column_int(int i) const;
  double column_double(int i) const;
  std::string column_text(int i) const;

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
};

// One open database connection. Move-only; closed on destruction (statements still alive
// keep the file open until they are finalized).
class SqliteConnection {
 public:
  // Opens an existing database file for reading and writing; with create, a missing file
  // is created. Throws SqliteError (SQLITE_CANTOPEN for a missing file).
  static SqliteConnection open(const std::string& path, bool create = false);

  SqliteConnection(SqliteConnection&&) noexcept;
  SqliteConnection& operator=(SqliteConnection&&) noexcept;
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;
  ~SqliteConnection();

  // Runs every statement of sql, discarding rows.
  void exec(std::string_view sql);
  // Prepares the first statement of sql; *rest receives the text after it.
  SqliteStatement prepare(std::string_view sql, std::string_view* rest = nullptr);
  // Rows changed by every INSERT, UPDATE and DELETE since the connection opened.
  long long total_changes() const;
  bool in_transaction() const;

  // How long a statement waits for another connection's lock before SQLITE_BUSY.
  void set_busy_timeout(std::chrono::milliseconds wait);
  // Statements running longer than this are interrupted (SQLITE_INTERRUPT); zero means no
  // limit. Measured on the steady clock from each call of set_statement_timeout.
  void set_statement_timeout(std::chrono::milliseconds limit);

 private:
  struct Deadline;
  explicit SqliteConnection(sqlite3* db);
  [[noreturn]] void fail(int rc) const;

  sqlite3* db_ = nullptr;
  std::unique_ptr<Deadline> deadline_;
};

}  // namespace dexweb::platform
