#pragma once
// The module's connection to the gateway database: the settings it is made with (and the
// server connection-string file that may fill them in), the rows a query returns, and
// DBObject with its retries.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/registry.h"
#include "data/dialect.h"
#include "data/sql_text.h"
#include "platform/files.h"
#include "util/datetime.h"
#include "util/nvp_list.h"
#include "util/runtime_error.h"
#include "util/variant.h"

namespace dexweb {

// The settings the database object works with, taken from the registry once and handed to
// each DBObject; a server's connection-string file may still fill in the values the
// registry left unset.
struct DatabaseSettings {
  // The folder of velotrax.db or SqlServerConnectionString.txt, ending with '/'.
  std::string db_dir;
  // Time-outs in seconds, and the retries of each failing step.
  int short_timeout = 2;
  int medium_timeout = 5;
  int long_timeout = 20;
  int retries = 3;
  // A server session's isolation level, from the connection-string file.
  std::string isolation_level = "READ COMMITTED";
  // True when the registry gave the value: only then does it win over the
  // connection-string file.
  bool short_timeout_set = false;
  bool medium_timeout_set = false;
  bool long_timeout_set = false;
  bool retries_set = false;
};

// The database values of the registry settings; never fails.
DatabaseSettings database_settings(const RegistrySettings& registry);

// The server connection-string file (SqlServerConnectionString.txt in DB_Dir): ODBC
// clauses, one per line, plus the module's own keys, which are taken out of the text:
//   # ...                 a comment line
//   vtsqlisolation=...    the session's isolation level (one of the five; else READ COMMITTED)
//   vtdbshorttimeout=, vtdbmediumtimeout=, vtdblongtimeout=, vtdbretries=
//                         a setting, used only when the registry left it unset (or 0)
//   vtencrypteduid=, vtencryptedpwd=
//                         user id and password, stored encoded; become UID= and PWD= clauses
// Keys are matched without regard to case; lines may end in CR LF or LF.
struct ServerConnection {
  // The remaining clauses, each line ended by CR LF, UID and PWD last.
  std::string connection_string;
  // The same clauses joined with nothing between them, each ended by ";", as ODBC drivers
  // want them.
  std::string driver_clauses;
};

// Reads and processes the file, writing into settings its isolation level and the values
// the file may fill in (those the registry left unset). Raises the file's
// RuntimeError when it cannot be read.
ServerConnection read_connection_file(const std::string& path, DatabaseSettings& settings);

// The isolation level a vtsqlisolation value selects.
std::string isolation_level_for(std::string_view value);

// The rows a query returned: a forward-only, read-only cursor with typed column access by
// name (names compare without regard to case). All rows are read when the query runs, so a
// recordset holds no engine resources and a failure while reading is a failure of the
// query itself.
//
// Booleans: the embedded engine and drivers that report a Boolean type give bool values;
// use AsBool to read a flag whatever form a driver chose (1/0, t/f, true/false).
class Recordset {
 public:
  using Row = std::vector<Variant>;
  Recordset(std::vector<std::string> names, std::vector<Row> rows);

  // True when there is no current row (an empty result, or after the last row).
  bool Eof() const { return position_ >= rows_.size(); }
  void MoveNext();

  // The current row's value of the named column. RuntimeError 3265 for an unknown name,
  // 3021 when there is no current row.
  const Variant& Field(std::string_view name) const;
  bool IsNull(std::string_view name) const { return is_null(Field(name)); }
  // Null reads as empty text.
  std::string AsText(std::string_view name) const;
  // By content: true/t/yes/-1/1 or any non-zero number is true. Null raises 94.
  bool AsBool(std::string_view name) const;
  std::int32_t AsLong(std::string_view name) const;
  DateTime AsDate(std::string_view name) const;

  // Drops the rows; the recordset is then at its end.
  void Close();

 private:
  int index_of(std::string_view name) const;

  std::vector<std::string> names_;
  std::vector<Row> rows_;
  std::size_t position_ = 0;
};

// A flag's value from its text as drivers write it; raises 13 for text that is no flag.
bool flag_from_text(std::string_view text);

// DBObject: the module's one connection to the gateway database, and every query and
// statement of the module with its retries.
//
// The object works with the DatabaseSettings it was made with: DB_Dir, DB_Short_Timeout and
// the others below are its db_dir, short_timeout and so on.
//
// The kind is decided at the first OpenDb: when DB_Dir holds SqlServerConnectionString.txt
// (any case) the server named there is used over ODBC (UsesServer(), dialect from the DBMS
// the driver reports); otherwise the embedded SQLite file DB_Dir + velotrax.db (embedded
// dialect, no table hint).
//
// Retry policy of OpenRecordset, Execute, ExecuteRA and BulkExecute (each failing step has
// its own budget of DB_Retries retries, DB_Retries + 1 attempts):
//   - first failure: a short wait (server 0.1 s + up to 0.4 s; embedded 0.5 s + up to 0.5 s,
//     BulkExecute up to 0.4 s), no message;
//   - later failures: a "Warning - DbObject.<op>: N desc - Retrying..." line (detail), the
//     engine's error lines and "SQL: " + statement (debug), the working time-out raised to
//     DB_Medium_Timeout when the caller gave none, a wait of DB_Medium_Timeout + [0,1) s,
//     and on a server (OpenRecordset, Execute, ExecuteRA) a reconnect once the count is
//     above 2 or equals DB_Retries;
//   - giving up is final for the error routine: either the operation makes the owner's
//     error policy final, logs its "ok to continue" line and returns empty or false
//     (ignore_failure, and only for a failure that time may cure: a number of the error
//     routine's retryable list, such as a lock, a time-out or a lost connection), or it
//     raises DatabaseError (final) with the engine's number and source and the description,
//     each engine error on its own line, and "SQL: " + statement.
// A time-out of 0 makes Execute, ExecuteRA and BulkExecute quiet: one attempt with a 1 s
// time-out, and a failure ends the call without a message or an error (Execute and
// BulkExecute return false), except that a damaged database (3049 corrupt, 3343 not a
// database) is raised as DatabaseDamaged, as above.
// Retry waits serve no event; a stop requested before or during one throws
// platform::StopRequested, and a transaction under way is rolled back on its way out.
class DbEngine;
class DbFailure;
class ErrorPolicy;
struct StatementBatch;

// What leaves the database object when it fails, each kind a type of its own carrying the
// error number (the engine's, in the module's numbering), text and source; the error routine
// classifies them by number like any RuntimeError.
// A failure the object gave up on after its own retries, or one that no retry can cure (an
// invalid connection string, a refused login): final, so the error routine halts at once.
class DatabaseError : public RuntimeError {
 public:
  DatabaseError(int number, std::string description, std::string source);
};
// The database is damaged or is no database at all (3049, 3343): raised also by a quiet call
// or one with ignore_failure, because whatever is written into it next may be lost.
class DatabaseDamaged : public DatabaseError {
 public:
  using DatabaseError::DatabaseError;
};
// The open embedded database file left its path and none is back (3024): not final, so the
// error routine retries, warns and halts as for any retryable database error.
class DatabaseFileMissing : public RuntimeError {
 public:
  using RuntimeError::RuntimeError;
};

// How a query or a single statement runs.
struct DbCallOptions {
  // Seconds; -1 means DB_Short_Timeout, 0 makes a statement quiet (above).
  int timeout = -1;
  // Gives up on a failure that time may cure with the "ok to continue" line instead of an
  // error (above).
  bool ignore_failure = false;
};

// How BulkExecute runs a list of statement texts.
struct DbBulkOptions {
  // -1: DB_Medium_Timeout, or for batches the statement count of the first batch times
  // DB_Short_Timeout; 0 makes the call quiet.
  int timeout = -1;
  bool ignore_failure = false;
  // Gives up at the first failure.
  bool fail_on_first_error = false;
  // On a server: one statement at a time instead of batches of about 10000 characters.
  bool send_singles = false;
  // Wraps them in one transaction (on a server, the commit entry is appended to the list
  // itself); a failure that ends the call rolls it back.
  bool use_transaction = false;
};

// How BulkExecute runs statements with bound values: always in one transaction.
struct DbStatementsOptions {
  int timeout = -1;
  bool ignore_failure = false;
  bool fail_on_first_error = false;
};

class DBObject {
 public:
  explicit DBObject(DatabaseSettings settings);
  ~DBObject();
  DBObject(const DBObject&) = delete;
  DBObject& operator=(const DBObject&) = delete;

  // The settings in force: those given, with the values a server's connection-string file
  // filled in once it was read.
  const DatabaseSettings& Settings() const { return settings_; }
  // Sets DB_Retries for the calls that follow.
  void SetRetries(int retries) { settings_.retries = retries; }

  // The dialect of the database opened last (embedded before the first open), and whether a
  // server's connection file was found: once found, the object stays a server's.
  const Dialect& SqlDialect() const { return dialect_for(kind_); }
  bool UsesServer() const { return uses_server_; }

  // The shared counter's row (read from the database at start).
  struct CounterState {
    int record_id = 0;
  };
  CounterState& Counter() { return counter_; }

  // The owner's error policy: an operation that gives up and goes on (ignore_failure)
  // makes its next error final. None by default.
  void SetErrorPolicy(ErrorPolicy* policy) { error_policy_ = policy; }

  bool IsOpen() const { return opened_; }

  // Opens the database unless it is open. retries -1 means DB_Retries. A failure is
  // retried (warning line, wait DB_Short_Timeout + [0,1) s) while the attempts do not
  // exceed retries; then DatabaseError is raised with the engine's number.
  // Errors 3001 ("Invalid argument in connection string"), 3031 and 3059 (raised as 3031
  // "DB authentication error") are raised at once.
  void OpenDb(int retries = -1);
  // Closes the connection (errors ignored; see CheckDatabaseFile for a file that left its
  // path).
  void CloseDb();

  // Runs a query and returns its rows as a forward-only, read-only snapshot; nullptr when
  // ignore_failure passed over a failure.
  std::unique_ptr<Recordset> OpenRecordset(std::string_view qry, const DbCallOptions& options = {});
  // The same for a statement that may carry bound values (data/sql_text.h).
  std::unique_ptr<Recordset> OpenRecordset(const SqlStatement& statement, const DbCallOptions& options = {});
  // Runs a statement. A blank statement does nothing. False when a quiet call or
  // ignore_failure passed over a failure.
  bool Execute(std::string_view qry, const DbCallOptions& options = {});
  // Runs a statement and returns the rows it affected (0 for a blank statement or a failure
  // passed over). On a server it does not open the connection first: a closed connection
  // fails and is reopened by the retry policy's reconnect.
  long long ExecuteRA(std::string_view qry, const DbCallOptions& options = {});
  // Runs the statements named by the entries of qry_list, in order: on a server in batches
  // (or one by one), on the embedded database one by one. False when a quiet call or
  // ignore_failure passed over a failure that ended it early.
  bool BulkExecute(NVPList& qry_list, const DbBulkOptions& options = {});
  // The same in one transaction for statements that may carry bound values
  // (data/sql_text.h); a server gets them with their values written in, in batches.
  bool BulkExecute(const std::vector<SqlStatement>& statements, const DbStatementsOptions& options = {});
  // One statement that writes and answers with rows (a WITH of INSERTs ... RETURNING), in a
  // transaction of its own, under BulkExecute's retry policy and log lines; its rows, or
  // nullptr when a quiet call (timeout 0) or ignore_failure passed over a failure.
  // timeout -1 means DB_Short_Timeout.
  std::unique_ptr<Recordset> BulkQuery(const SqlStatement& statement, const DbCallOptions& options = {});

  // Called before a message's rows are stored: makes sure the open embedded database is
  // the file now at DB_Dir + velotrax.db, with the write-ahead log and index it was opened
  // with (each compared by device and inode).
  //   - Replaced (renamed over, or deleted and made anew): the old connection leaves the
  //     path (below) and the new file is opened, so no message goes into a file nobody reads
  //     any more. The poll cycle reads the control row again at its next refresh (every
  //     3 s), then from the new file.
  //   - No file there: the old connection leaves the path; then RuntimeError 3024, the
  //     number of a failed open, raised not final, so that the error routine retries, warns
  //     and halts as for any retryable database error. Each call raises it again while no
  //     file is back; once one is, the next operation opens it (see CheckIntegrity).
  //   - The log or its index deleted or replaced: a general log line; the log (still open)
  //     goes into the database file, the connection leaves the path and the file is opened
  //     again, with a log of its own.
  // Leaving the path: the connection's log is emptied into the file it was written for and
  // the connection closed; its log and index are removed from the path. One that could not
  // be emptied (another program still reads from it), or a log or index at the path that is
  // not the connection's, is renamed to its name + ".stale-" + yyyymmddhhnnss (with "-2",
  // "-3"... when taken), with a general log line saying where; except that beside a new file
  // at the path a log that is not the connection's stays (it may be the new file's). SQLite
  // itself leaves the log of a file that left its path for whatever file comes there next,
  // which would read the old file's pages from it. A file that cannot be renamed raises its
  // file error and is tried again before anything is opened. CloseDb and the destructor
  // leave the path the same way when they find the file gone, replaced or without its log
  // (a file they cannot rename is logged and tried again before the next open).
  // Nothing to do on a server or while closed, except raising 3024 again while the file found
  // missing is not back. A file replaced while the rows are being written is seen by the
  // next call only.
  void CheckDatabaseFile();
  // Reads the whole embedded database file (SQLite's quick check): RuntimeError 3049,
  // final, when it is damaged, or the engine's number when it cannot be read at all.
  // Nothing on a server. Also run by the open that finds another file at the path than the
  // object opened before, after the general log line that says so.
  void CheckIntegrity();

  // For tests only (fault injection): every engine opened from now on, and the one open
  // now, is handed to decorate, and the object uses the engine it returns. An empty
  // function stops the decoration at the next open.
  using EngineDecorator = std::function<std::unique_ptr<DbEngine>(std::unique_ptr<DbEngine>)>;
  void SetEngineDecoratorForTests(EngineDecorator decorate);

  // Lock waits of the embedded engine: tries of LockDelayMs() ms before a statement fails
  // as locked (LockRetries() after each open). The delay is drawn at each open (25 to 74
  // ms) and the tries make about a second. No effect on a server or while closed.
  void SetLockRetry(int tries);
  int LockDelayMs() const { return lock_delay_ms_; }
  int LockRetries() const { return 1000 / lock_delay_ms_; }

  // How an operation treats its failing steps (internal to the operations).
  struct StepPolicy;

 private:
  enum class Outcome { Done, Swallowed };

  template <typename Step>
  Outcome run_step(StepPolicy& policy, std::string_view sql, Step&& step);
  // OpenRecordset's policy around query(timeout); qry is the text its log lines show.
  template <typename Query>
  std::unique_ptr<Recordset> open_recordset(std::string_view qry, const DbCallOptions& options, Query&& query);
  // Runs steps 0..count-1 that open, fill and commit one transaction (step(i) runs step i,
  // text(i) is its SQL for the log, after(i) follows each success). Returns false when a
  // swallowed failure ended it early.
  template <typename Text, typename Step>
  bool run_transaction(StepPolicy& policy, std::size_t count, Text&& text, Step&& step);
  // The retry policy after a failed step: true to run it again, false when the failure was
  // swallowed; raises when giving up.
  bool retry_after(StepPolicy& policy, const DbFailure& failure, std::string_view sql);
  template <typename Step>
  void open_step(int& attempts, int retries, Step&& step);
  void find_connection_file();
  void open_server();
  void open_embedded();
  // Why the open embedded file's path needs care before anything more is written.
  enum class Departure { None, Missing, Replaced, LogChanged };
  std::optional<platform::FileIdentity> file_at_path() const;
  Departure departure() const;
  [[noreturn]] void raise_missing() const;
  void leave_path(Departure why);
  // Renames each noted file to its name + ".stale-" + yyyymmddhhnnss, with a general log
  // line; raises the file error when one cannot be, which stays noted.
  void move_stale_aside();
  // The close of CloseDb and of the destructor.
  void close_connection();
  // The engine as the object keeps it (decorated for tests).
  void install(std::unique_ptr<DbEngine> engine);
  void reconnect();
  DbEngine& engine();
  // Empty when a failure was passed over.
  std::optional<long long> run_statement(const StepPolicy& texts, std::string_view qry, const DbCallOptions& options,
                                         bool open_first);
  void rollback() noexcept;
  // Each returns false when a swallowed failure ended the call early.
  bool bulk_batched(const std::vector<StatementBatch>& batches, StepPolicy& policy, int& timeout,
                    bool use_transaction);
  bool bulk_singles(NVPList& list, StepPolicy& policy, int& timeout, bool use_transaction);
  bool bulk_embedded(const std::vector<SqlStatement>& list, StepPolicy& policy, int& timeout, bool use_transaction);
  // The policy, the open and the rollback of a call that ends early, around body(policy,
  // timeout), which returns false when a swallowed failure ended it.
  template <typename Body>
  bool run_bulk(int count, const DbBulkOptions& options, Body&& body);

  DatabaseSettings settings_;
  DatabaseKind kind_ = DatabaseKind::Embedded;
  bool uses_server_ = false;
  int lock_delay_ms_ = 25;
  CounterState counter_;
  ErrorPolicy* error_policy_ = nullptr;
  bool opened_ = false;
  std::string connection_string_;
  std::string driver_clauses_;
  std::unique_ptr<DbEngine> engine_;
  EngineDecorator decorate_;
  // The embedded file as it was just before the open: a file put there later differs.
  std::optional<platform::FileIdentity> opened_file_;
  std::string opened_path_;
  // The last open found another file than the one before it.
  bool switched_ = false;
  // The file was found missing and its connection closed; no file has come back since.
  bool left_missing_ = false;
  // Files of a connection that left its path, still to be moved aside before the next open.
  struct StaleFile {
    std::string path, why;
  };
  std::vector<StaleFile> stale_;
};

// Holds DB_Retries at a value for a scope and puts the previous one back however the scope
// ends.
class ScopedRetries {
 public:
  ScopedRetries(DBObject& db, int retries) : db_(db), previous_(db.Settings().retries) { db_.SetRetries(retries); }
  ~ScopedRetries() { db_.SetRetries(previous_); }
  ScopedRetries(const ScopedRetries&) = delete;
  ScopedRetries& operator=(const ScopedRetries&) = delete;

 private:
  DBObject& db_;
  int previous_;
};

// Releases a recordset (nothing when it holds none).
void free_recordset(std::unique_ptr<Recordset>& rs);
// Closes and releases the database object (nothing when it holds none).
void free_database(std::unique_ptr<DBObject>& db);

}  // namespace dexweb
