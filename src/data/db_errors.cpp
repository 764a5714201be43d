#include "data/internal/db_errors.h"

#include "data/db_object.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

#include "logging/log_event.h"
#include "util/runtime_error.h"

namespace dexweb {

DbFailure::DbFailure(int number, std::string description, std::vector<std::string> engine_errors,
                     std::string source)
    : std::runtime_error(description),
      number_(number),
      description_(std::move(description)),
      engine_errors_(std::move(engine_errors)),
      source_(std::move(source)) {}

namespace {

// Numbers keep the meaning they have in the gateway's other modules: 3024 file not found,
// 3043 disk or network error (also a full disk: the error routine retries it, and the
// disk may be freed meanwhile), 3146 ODBC call failed, 3151 ODBC connection failed, 3197
// data changed, 3260/3262 locked, 3022 duplicate key, 3075 syntax, 3078 no such table,
// 3265 no such item, 3059 login refused (reported by OpenDb as an authentication error),
// 3033 no permission, 3049 corrupt, 3343 not a database.
constexpr ErrorMapping kMappings[] = {
    // SQLite result codes.
    {"sqlite:1", 3075, false},    // SQLITE_ERROR: SQL error or missing table/column
    {"sqlite:2", 3000, false},    // SQLITE_INTERNAL
    {"sqlite:3", 3033, false},    // SQLITE_PERM
    {"sqlite:4", 3197, true},     // SQLITE_ABORT: rolled back under the statement
    {"sqlite:5", 3260, true},     // SQLITE_BUSY
    {"sqlite:6", 3262, true},     // SQLITE_LOCKED
    {"sqlite:7", 3035, false},    // SQLITE_NOMEM
    {"sqlite:8", 3027, false},    // SQLITE_READONLY
    {"sqlite:9", 3146, true},     // SQLITE_INTERRUPT: the statement time-out
    {"sqlite:10", 3043, true},    // SQLITE_IOERR (a write refused for space comes as SQLITE_FULL)
    {"sqlite:11", 3049, false},   // SQLITE_CORRUPT
    {"sqlite:12", 3000, false},   // SQLITE_NOTFOUND
    {"sqlite:13", 3043, true},    // SQLITE_FULL: disk full
    {"sqlite:14", 3024, true},    // SQLITE_CANTOPEN: file missing or share gone
    {"sqlite:15", 3050, true},    // SQLITE_PROTOCOL: lock protocol race
    {"sqlite:16", 3000, false},   // SQLITE_EMPTY
    {"sqlite:17", 3197, true},    // SQLITE_SCHEMA: schema changed under the statement
    {"sqlite:18", 3163, false},   // SQLITE_TOOBIG
    {"sqlite:19", 3022, false},   // SQLITE_CONSTRAINT
    {"sqlite:1299", 3314, false}, // SQLITE_CONSTRAINT_NOTNULL
    {"sqlite:20", 3464, false},   // SQLITE_MISMATCH
    {"sqlite:21", 3000, false},   // SQLITE_MISUSE
    {"sqlite:22", 3000, false},   // SQLITE_NOLFS
    {"sqlite:23", 3031, false},   // SQLITE_AUTH
    {"sqlite:24", 3000, false},   // SQLITE_FORMAT
    {"sqlite:25", 3265, false},   // SQLITE_RANGE
    {"sqlite:26", 3343, false},   // SQLITE_NOTADB
    {"sqlite:27", 3000, false},   // SQLITE_NOTICE
    {"sqlite:28", 3000, false},   // SQLITE_WARNING
    // ODBC SQLSTATEs, exact.
    {"01S00", 3001, false},  // invalid connection string attribute
    {"08001", 3151, true},   // unable to connect
    {"08003", 3151, true},   // connection not open
    {"08004", 3151, true},   // server rejected the connection
    {"08007", 3146, true},   // connection lost during a transaction
    {"08S01", 3146, true},   // communication link failure
    {"22001", 3163, false},  // string data would be truncated
    {"22003", 3349, false},  // numeric value out of range
    {"23502", 3314, false},  // not-null violation
    {"28000", 3059, false},  // login refused
    {"40001", 3197, true},   // serialization failure / deadlock victim
    {"40P01", 3260, true},   // deadlock detected
    {"42S02", 3078, false},  // table not found
    {"42P01", 3078, false},  // undefined table
    {"42501", 3033, false},  // insufficient privilege
    {"42S22", 3265, false},  // column not found
    {"42703", 3265, false},  // undefined column
    {"53100", 3043, true},   // disk full
    {"53300", 3151, true},   // too many connections
    {"55P03", 3260, true},   // lock not available
    {"57014", 3146, true},   // statement canceled (time-out)
    {"58030", 3043, true},   // I/O error on the server
    {"HY000", 3146, true},   // general driver error
    {"HY001", 3035, false},  // out of memory
    {"HY008", 3146, true},   // operation canceled
    {"HYT00", 3146, true},   // time-out expired
    {"HYT01", 3151, true},   // connection time-out expired
    {"XX001", 3049, false},  // data corrupted
    {"XX002", 3049, false},  // index corrupted
    // SQL Server's error numbers that its states do not tell apart.
    {"mssql:229", 3033, false},  // permission denied on an object
    {"mssql:230", 3033, false},  // permission denied on a column
    {"mssql:605", 3049, false},  // a page of the wrong object
    {"mssql:823", 3049, false},  // the operating system failed a page read
    {"mssql:824", 3049, false},  // a page failed its consistency check
    // ODBC SQLSTATE classes.
    {"08", 3151, true},   // connection exceptions
    {"22", 3464, false},  // data exceptions
    {"23", 3022, false},  // integrity constraint violations
    {"24", 3000, false},  // invalid cursor state
    {"25", 3000, false},  // invalid transaction state
    {"28", 3059, false},  // invalid authorization
    {"3D", 3024, true},   // unknown catalog (database not there yet)
    {"40", 3197, true},   // transaction rollback
    {"42", 3075, false},  // syntax error or access rule violation
    {"53", 3035, false},  // insufficient resources
    {"57", 3146, true},   // operator intervention (shutdown, cancel)
    {"58", 3043, true},   // system errors
    {"IM", 3001, false},  // driver manager: driver or data source unusable
    {"HY", 3000, false},  // other driver-manager errors (sequence, attributes)
};

int find(std::string_view key, int fallback) {
  auto it = std::find_if(std::begin(kMappings), std::end(kMappings),
                         [&](const ErrorMapping& m) { return m.key == key; });
  return it == std::end(kMappings) ? fallback : it->number;
}

}  // namespace

std::span<const ErrorMapping> error_mappings() { return kMappings; }

int sqlite_error_number(int code, int extended_code) {
  int primary = find("sqlite:" + std::to_string(code), err::kDbReserved);
  return find("sqlite:" + std::to_string(extended_code), primary);
}

int sqlstate_error_number(std::string_view state, long native) {
  // psqlODBC's own numbers stay far below these.
  if (native >= 200) {
    const int by_native = find("mssql:" + std::to_string(native), 0);
    if (by_native != 0) return by_native;
  }
  std::string upper(state);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  int by_class = upper.size() >= 2 ? find(std::string_view(upper).substr(0, 2), err::kDbOdbcCallFailed)
                                   : err::kDbOdbcCallFailed;
  return find(upper, by_class);
}

bool is_damaged_database_error(int number) { return number == err::kDbCorrupt || number == err::kDbNotADatabase; }

std::string signed_number(int n) { return (n >= 0 ? " " : "") + std::to_string(n); }

std::string with_engine_lines(const std::string& description, const std::vector<std::string>& lines) {
  std::string out = description;
  for (const auto& line : lines) out += "\r\n" + line;
  return out;
}

DatabaseError::DatabaseError(int number, std::string description, std::string source)
    : RuntimeError(number, std::move(description), std::move(source)) {
  mark_final();
}

void raise_final(int number, std::string description, std::string source) {
  if (is_damaged_database_error(number)) throw DatabaseDamaged(number, std::move(description), std::move(source));
  throw DatabaseError(number, std::move(description), std::move(source));
}

namespace {

DbLogObserver& observer() {
  static DbLogObserver o;
  return o;
}

}  // namespace

void db_log(LogLevel level, std::string_view text) {
  if (observer()) observer()(level, text);
  log_event(level, kMonitorDisk, LogCategory::General, text);
}

void db_warning(std::string_view text) {
  db_log(LogLevel::Detail, text);
  echo_line(std::string(kModuleName) + ": " + std::string(text));
}

void set_db_log_observer(DbLogObserver o) { observer() = std::move(o); }

}  // namespace dexweb
