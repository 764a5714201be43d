#include "data/internal/sqlite_engine.h"

#include <limits>

#include "data/internal/db_errors.h"
#include "platform/files.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr const char* kSource = "SQLite";

// Values are typed by the column's declared type, as the schema files write them.
struct ColumnKind {
  bool is_flag = false;
  bool is_date = false;
  bool is_small = false;
};

ColumnKind column_kind(const std::string& declared) {
  const std::string decl = text::to_upper(declared);
  return {decl.find("BOOL") != std::string::npos || decl == "BIT",
          decl.find("DATE") != std::string::npos || decl.find("TIME") != std::string::npos,
          decl.find("SMALLINT") != std::string::npos};
}

Variant value_of(const platform::SqliteStatement& st, int i, const ColumnKind& kind) {
  using platform::SqliteType;
  SqliteType type = st.column_type(i);
  if (type == SqliteType::Null) return Null{};
  if (type == SqliteType::Integer) {
    std::int64_t n = st.column_int(i);
    if (kind.is_flag) return n != 0;
    if (kind.is_small && n >= std::numeric_limits<std::int16_t>::min() &&
        n <= std::numeric_limits<std::int16_t>::max())
      return static_cast<std::int16_t>(n);
    if (n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max())
      return static_cast<std::int32_t>(n);
    return static_cast<double>(n);
  }
  if (type == SqliteType::Float) return st.column_double(i);
  std::string s = st.column_text(i);
  if (kind.is_date) {
    if (auto t = parse_datetime(text::trim(s))) return *t;
  }
  if (kind.is_flag) return flag_from_text(s);
  return s;
}

// Every row the statement gives, typed by the columns' declared types.
std::unique_ptr<Recordset> read_rows(platform::SqliteStatement& st) {
  const int columns = st.column_count();
  std::vector<std::string> names;
  std::vector<ColumnKind> kinds;
  for (int i = 0; i < columns; ++i) {
    names.push_back(st.column_name(i));
    kinds.push_back(column_kind(st.column_decltype(i)));
  }
  std::vector<Recordset::Row> rows;
  while (st.step()) {
    Recordset::Row row;
    row.reserve(columns);
    for (int i = 0; i < columns; ++i) row.push_back(value_of(st, i, kinds[i]));
    rows.push_back(std::move(row));
  }
  return std::make_unique<Recordset>(std::move(names), std::move(rows));
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

std::unique_ptr<SqliteEngine> SqliteEngine::Open(const std::string& path, int lock_delay_ms, int lock_retries) {
  try {
    auto engine = std::make_unique<SqliteEngine>(platform::SqliteConnection::open(path), lock_delay_ms);
    engine->SetLockRetry(lock_retries);
    // A small page cache keeps the daemon's memory flat however large the messages table
    // grows: it appends at the end and reads small tables.
    engine->db_.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA cache_size=-2048;");
    // The journal mode's read has opened the log and its index: these are the connection's.
    for (const char* suffix : {"-wal", "-shm"})
      engine->companions_.push_back({path + suffix, platform::file_identity(path + suffix)});
    return engine;
  } catch (const platform::SqliteError& e) {
    raise_db_failure(e);
  }
}

void SqliteEngine::SetLockRetry(int tries) {
  db_.set_busy_timeout(std::chrono::milliseconds(lock_delay_ms_ * std::max(tries, 1)));
}

long long SqliteEngine::RunStatement(const SqlStatement& statement, int timeout_seconds) {
  if (statement.values.empty()) return Run(statement.text, timeout_seconds);
  std::optional<long long> changes = with_deadline(db_, timeout_seconds, [&]() -> std::optional<long long> {
    const long long before = db_.total_changes();
    std::optional<platform::SqliteStatement> st = bound_statement(statement);
    if (!st) return std::nullopt;
    while (st->step()) {
    }
    keep(statement.text, {}, std::move(*st));
    return db_.total_changes() - before;
  });
  return changes ? *changes : Run(inline_values(statement), timeout_seconds);
}

std::optional<platform::SqliteStatement> SqliteEngine::bound_statement(const SqlStatement& statement) {
  std::string_view rest;
  std::optional<platform::SqliteStatement> st = first_statement(statement.text, rest);
  if (!st || !text::trim(rest).empty()) return std::nullopt;
  int index = 0;
  for (const SqlValue& value : statement.values) std::visit([&](const auto& v) { st->bind(++index, v); }, value);
  return st;
}

bool SqliteEngine::EmptyLog() noexcept {
  try {
    // One row: busy (1 when a reader kept the log from being emptied), frames in the log,
    // frames written into the file.
    platform::SqliteStatement st = db_.prepare("PRAGMA wal_checkpoint(TRUNCATE)");
    return st.step() && st.column_int(0) == 0;
  } catch (...) {
    return false;
  }
}

std::optional<platform::SqliteStatement> SqliteEngine::first_statement(std::string_view sql, std::string_view& rest) {
  if (auto kept = cache_.take(sql)) {
    rest = {};
    return kept;
  }
  platform::SqliteStatement st = db_.prepare(sql, &rest);
  if (!st) return std::nullopt;
  return st;
}

void SqliteEngine::keep(std::string_view sql, std::string_view rest, platform::SqliteStatement st) {
  if (text::trim(rest).empty()) cache_.give_back(sql, std::move(st));
}

std::unique_ptr<Recordset> SqliteEngine::Query(std::string_view sql, int timeout_seconds) {
  return with_deadline(db_, timeout_seconds, [&] {
    std::string_view rest;
    std::optional<platform::SqliteStatement> st = first_statement(sql, rest);
    if (!st) return std::make_unique<Recordset>(std::vector<std::string>{}, std::vector<Recordset::Row>{});
    std::unique_ptr<Recordset> rows = read_rows(*st);
    keep(sql, rest, std::move(*st));
    return rows;
  });
}

std::unique_ptr<Recordset> SqliteEngine::QueryStatement(const SqlStatement& statement, int timeout_seconds) {
  if (statement.values.empty()) return Query(statement.text, timeout_seconds);
  std::unique_ptr<Recordset> rows = with_deadline(db_, timeout_seconds, [&]() -> std::unique_ptr<Recordset> {
    std::optional<platform::SqliteStatement> st = bound_statement(statement);
    if (!st) return nullptr;
    std::unique_ptr<Recordset> read = read_rows(*st);
    keep(statement.text, {}, std::move(*st));
    return read;
  });
  return rows ? std::move(rows) : Query(inline_values(statement), timeout_seconds);
}

long long SqliteEngine::Run(std::string_view sql, int timeout_seconds) {
  return with_deadline(db_, timeout_seconds, [&] {
    const long long before = db_.total_changes();
    std::string_view rest;
    if (std::optional<platform::SqliteStatement> st = first_statement(sql, rest)) {
      while (st->step()) {
      }
      keep(sql, rest, std::move(*st));
    }
    while (!text::trim(rest).empty()) {
      platform::SqliteStatement st = db_.prepare(rest, &rest);
      if (!st) break;
      while (st.step()) {
      }
    }
    return db_.total_changes() - before;
  });
}

}  // namespace dexweb
