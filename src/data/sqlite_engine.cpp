#include "data/internal/sqlite_engine.h"

#include <limits>

#include "config/globals.h"
#include "data/internal/db_failure.h"
#include "data/internal/error_numbers.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr const char* kSource = "SQLite";

// Values are typed by the column's declared type, as the schema files write them.
Variant value_of(const platform::SqliteStatement& st, int i) {
  using platform::SqliteType;
  SqliteType type = st.column_type(i);
  if (type == SqliteType::Null) return Null{};
  std::string decl = text::to_upper(st.column_decltype(i));
  bool is_flag = decl.find("BOOL") != std::string::npos || decl == "BIT";
  bool is_date = decl.find("DATE") != std::string::npos || decl.find("TIME") != std::string::npos;
  if (type == SqliteType::Integer) {
    std::int64_t n = st.column_int(i);
    if (is_flag) return n != 0;
    if (decl.find("SMALLINT") != std::string::npos && n >= std::numeric_limits<std::int16_t>::min() &&
        n <= std::numeric_limits<std::int16_t>::max())
      return static_cast<std::int16_t>(n);
    if (n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max())
      return static_cast<std::int32_t>(n);
    return static_cast<double>(n);
  }
  if (type == SqliteType::Float) return st.column_double(i);
  std::string s = st.column_text(i);
  if (is_date) {
    if (auto t = parse_datetime(text::trim(s))) return *t;
  }
  if (is_flag) return flag_from_text(s);
  return s;
}

// The step runs with the statement time-out armed; a zero time-out leaves it off.
template <typename Fn>
auto with_deadline(platform::SqliteConnection& db, int timeout_seconds, Fn&& fn) {
  db.set_statement_timeout(std::chrono::seconds(timeout_seconds > 0 ? timeout_seconds : 0));
  try {
    auto result = fn();
    db.set_statement_timeout(std::chrono::milliseconds(0));
    return result;
  } catch (const platform::SqliteError& e) {
    db.set_statement_timeout(std::chrono::milliseconds(0));
    raise_db_failure(e);
  }
}

}  // namespace

void raise_db_failure(const platform::SqliteError& e) {
  throw DbFailure(sqlite_error_number(e.code(), e.extended_code()), e.code_text(), {e.message()}, kSource);
}

std::unique_ptr<SqliteEngine> SqliteEngine::Open(const std::string& path) {
  try {
    auto engine = std::make_unique<SqliteEngine>(platform::SqliteConnection::open(path));
    engine->SetLockRetry(globals().lock_retries);
    engine->db_.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
    return engine;
  } catch (const platform::SqliteError& e) {
    raise_db_failure(e);
  }
}

void SqliteEngine::SetLockRetry(int tries) {
  db_.set_busy_timeout(std::chrono::milliseconds(globals().lock_delay_ms * std::max(tries, 1)));
}

void SqliteEngine::LeaveReplacedFile() noexcept {
  try {
    db_.exec("PRAGMA wal_checkpoint(TRUNCATE)");
  } catch (const platform::SqliteError&) {
    // Another connection still reads the old file; nothing more can be done from here.
  }
}

std::unique_ptr<Recordset> SqliteEngine::Query(std::string_view sql, int timeout_seconds) {
  return with_deadline(db_, timeout_seconds, [&] {
    std::string_view rest;
    platform::SqliteStatement st = db_.prepare(sql, &rest);
    std::vector<std::string> names;
    std::vector<Recordset::Row> rows;
    if (st) {
      for (int i = 0; i < st.column_count(); ++i) names.push_back(st.column_name(i));
      while (st.step()) {
        Recordset::Row row;
        for (int i = 0; i < st.column_count(); ++i) row.push_back(value_of(st, i));
        rows.push_back(std::move(row));
      }
    }
    return std::make_unique<Recordset>(std::move(names), std::move(rows));
  });
}

long long SqliteEngine::Run(std::string_view sql, int timeout_seconds) {
  return with_deadline(db_, timeout_seconds, [&] {
    const long long before = db_.total_changes();
    std::string_view rest = sql;
    while (!rest.empty()) {
      platform::SqliteStatement st = db_.prepare(rest, &rest);
      if (!st) break;
      while (st.step()) {
      }
    }
    return db_.total_changes() - before;
  });
}

}  // namespace dexweb
