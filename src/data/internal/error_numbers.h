#pragma once
// The one table that turns engine error codes into the module's error numbers. SQLite
// result codes and ODBC SQLSTATEs map into 3000..3799: transient failures (busy, locked,
// time-out, lost connection) onto numbers of the error routine's retryable list, permanent
// ones (syntax, constraint, missing table or column, authentication) onto numbers outside it.
// A damaged database (corrupt pages, a file that is no database) has numbers of its own:
// no caller may pass over those.

#include <span>
#include <string_view>

#include "util/runtime_error.h"  // err::kDbNoPermission

namespace dexweb {

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

}  // namespace dexweb
