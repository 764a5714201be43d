#pragma once
// How the data layer numbers, raises and reports the failures of its engines.

#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "logging/log_event.h"
#include "util/runtime_error.h"  // err::kDbNoPermission

namespace dexweb {

// A failure reported by a database engine, already numbered in the module's numbering (the
// error routine classifies by number: 3000..3799, with the transient ones on its retryable
// list). The data layer's retry policy catches these; what leaves DBObject is one of the
// types in data/db_object.h.
class DbFailure : public std::runtime_error {
 public:
  DbFailure(int number, std::string description, std::vector<std::string> engine_errors,
            std::string source);

  int number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }
  // The engine's error collection, one text per entry, in the engine's order.
  const std::vector<std::string>& engine_errors() const noexcept { return engine_errors_; }
  const std::string& source() const noexcept { return source_; }

 private:
  int number_;
  std::string description_;
  std::vector<std::string> engine_errors_;
  std::string source_;
};

// The one table that turns engine error codes into the module's error numbers. SQLite
// result codes and ODBC SQLSTATEs map into 3000..3799: transient failures (busy, locked,
// time-out, lost connection) onto numbers of the error routine's retryable list, permanent
// ones (syntax, constraint, missing table or column, authentication) onto numbers outside it.
// A damaged database (corrupt pages, a file that is no database) has numbers of its own:
// no caller may pass over those.
struct ErrorMapping {
  // "sqlite:<code>" for a SQLite result code (extended codes take precedence over their
  // primary code), a five-character SQLSTATE, or a two-character SQLSTATE class.
  std::string_view key;
  int number;
  bool transient;
};

// Every mapping, for inspection.
std::span<const ErrorMapping> error_mappings();

// The number for a SQLite failure: its extended code's entry, else its primary code's,
// else 3000 (permanent).
int sqlite_error_number(int code, int extended_code);
// The number for an ODBC failure: SQL Server's own error number (native) where it tells
// more than the state (permission denied, damaged pages), else the exact state's entry,
// else its class's, else 3146 ("ODBC call failed", transient).
int sqlstate_error_number(std::string_view state, long native = 0);

// True for the numbers that say the database itself is damaged or not a database at all.
bool is_damaged_database_error(int number);

namespace err {
inline constexpr int kDbReserved = 3000;
inline constexpr int kDbInvalidArgument = 3001;
// The database file is not there (or cannot be opened); retryable.
inline constexpr int kDbFileNotFound = 3024;
// Disk or network error, also a full disk (SQLite's SQLITE_FULL, a server's 53100); retryable.
inline constexpr int kDbDiskFull = 3043;
inline constexpr int kDbNotValidPassword = 3031;
// Damaged: corrupt pages (SQLITE_CORRUPT, a server's data_corrupted), a file that is no
// database (SQLITE_NOTADB).
inline constexpr int kDbCorrupt = 3049;
inline constexpr int kDbNotADatabase = 3343;
inline constexpr int kDbCanceledByUser = 3059;
inline constexpr int kDbItemNotFound = 3265;
inline constexpr int kDbNotSupported = 3251;
inline constexpr int kDbNoCurrentRecord = 3021;
inline constexpr int kDbOdbcCallFailed = 3146;
}  // namespace err

// Texts and the final raise shared by DBObject's open and its operations.
// The error number as the log lines write it: a blank before a number that is not negative.
std::string signed_number(int n);
// description, then each engine line after a CR LF.
std::string with_engine_lines(const std::string& description, const std::vector<std::string>& lines);
// Raises DatabaseError (DatabaseDamaged for a damaged database): the operation's own
// retries are spent, so the error routine halts at once.
[[noreturn]] void raise_final(int number, std::string description, std::string source);

// The data layer's reports: every line goes to the monitors and the log file with category
// general.
void db_log(LogLevel level, std::string_view text);
// A detail line that tells of a failure (a retry, a step given up on): also written to
// standard error, where the service manager's journal keeps it.
void db_warning(std::string_view text);

// Sees every db_log line before it is logged (tests); an empty function removes it.
using DbLogObserver = std::function<void(LogLevel level, std::string_view text)>;
void set_db_log_observer(DbLogObserver observer);

}  // namespace dexweb
