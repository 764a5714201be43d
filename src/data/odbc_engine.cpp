#include "data/internal/odbc_engine.h"

#include <algorithm>
#include <limits>

#include "data/internal/db_errors.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr const char* kSource = "ODBC";

[[noreturn]] void raise_db_failure(const platform::OdbcError& e) {
  const auto& records = e.records();
  std::vector<std::string> lines;
  for (const auto& r : records) lines.push_back(r.message);
  throw DbFailure(sqlstate_error_number(records.front().state, records.front().native), records.front().message, std::move(lines),
                  kSource);
}

template <typename Fn>
auto translated(Fn&& fn) {
  try {
    return fn();
  } catch (const platform::OdbcError& e) {
    raise_db_failure(e);
  }
}

Variant value_of(const platform::OdbcColumn& column, const std::optional<std::string>& text) {
  using platform::OdbcKind;
  if (!text) return Null{};
  auto number = [&]() -> std::optional<double> { return text::parse_number(*text); };
  switch (column.kind) {
    case OdbcKind::Boolean: return flag_from_text(*text);
    case OdbcKind::SmallInt:
      if (auto n = number()) return static_cast<std::int16_t>(*n);
      break;
    case OdbcKind::Integer:
      if (auto n = number()) {
        if (*n >= std::numeric_limits<std::int32_t>::min() && *n <= std::numeric_limits<std::int32_t>::max())
          return static_cast<std::int32_t>(*n);
        return *n;
      }
      break;
    case OdbcKind::Float:
      if (auto n = number()) return *n;
      break;
    case OdbcKind::DateTime:
      if (auto t = parse_datetime(*text)) return *t;
      break;
    case OdbcKind::Text: break;
  }
  return *text;
}

}  // namespace

DatabaseKind kind_for_dbms(std::string_view dbms_name) {
  if (text::icontains(dbms_name, "postgres")) return DatabaseKind::PostgreSql;
  // Microsoft's driver and FreeTDS both report "Microsoft SQL Server".
  if (text::icontains(dbms_name, "SQL Server")) return DatabaseKind::SqlServer;
  // Another DBMS would get the statements of one of the two and fail on the first that
  // differs ("near SET: syntax error" on SQLite): no use retrying.
  throw RuntimeError(err::kDbNotSupported,
                     "not supported: " + std::string(dbms_name) +
                         " ODBC; use the embedded database or PostgreSQL/SQL Server",
                     "ODBC")
      .mark_final();
}

OdbcEngine::OdbcEngine(std::unique_ptr<platform::OdbcEnvironment> env, platform::OdbcConnection connection,
                       DatabaseKind kind)
    : env_(std::move(env)), connection_(std::move(connection)), dialect_(&dialect_for(kind)) {}

std::unique_ptr<OdbcEngine> OdbcEngine::Connect(const std::string& clauses) {
  return translated([&] {
    auto env = std::make_unique<platform::OdbcEnvironment>();
    platform::OdbcConnection connection(*env);
    connection.connect(clauses);
    DatabaseKind kind = kind_for_dbms(connection.dbms_name());
    connection.set_utf8_text(kind == DatabaseKind::PostgreSql);
    return std::make_unique<OdbcEngine>(std::move(env), std::move(connection), kind);
  });
}

std::string OdbcEngine::timeout_prefix(std::string_view sql, int timeout_seconds) {
  const int timeout = std::max(timeout_seconds, 0);
  if (dialect_->kind() != DatabaseKind::PostgreSql) return {};
  if (sql == dialect_->rollback_statement()) {
    // It may follow a failure inside a transaction, which refuses every statement but this
    // one; the time-out it undoes is unknown after it.
    session_timeout_ = -1;
    return {};
  }
  if (timeout == session_timeout_) return {};
  // Its driver would send the time-out as a statement of its own; written in front of sql it
  // travels in the same round trip (and in the same transaction as sql).
  session_timeout_ = timeout;
  return "SET statement_timeout = " + std::to_string(timeout * 1000) + ";\r\n";
}

// A failure may have rolled the session's time-out back with its transaction.
template <typename Fn>
auto OdbcEngine::call(Fn&& fn) {
  try {
    return translated(fn);
  } catch (const DbFailure&) {
    session_timeout_ = -1;
    throw;
  }
}

template <typename Read>
auto OdbcEngine::run_bound(const SqlStatement& statement, int timeout_seconds, Read&& read) {
  return call([&] {
    const std::string prefix = timeout_prefix(statement.text, timeout_seconds);
    // Kept statements go by the text as written: the dialect's form is made only to prepare.
    const std::string& key = statement.text;
    std::optional<platform::OdbcStatement> st;
    if (prefix.empty() && !statement.values.empty()) st = cache_.take(key);
    const bool kept = st.has_value();
    if (!st) st = connection_.statement();
    if (dialect_->kind() != DatabaseKind::PostgreSql) st->set_timeout(std::max(timeout_seconds, 0));
    int index = 0;
    for (const SqlValue& value : statement.values) {
      if (const auto* n = std::get_if<std::int64_t>(&value)) st->bind_integer(++index, *n);
      else st->bind_text(++index, std::get<std::string>(value));
    }
    bool has_rows = false;
    if (!prefix.empty() || statement.values.empty()) {
      has_rows = st->execute(prefix + dialect_->to_engine(statement.text));
    } else {
      if (!kept) st->prepare(dialect_->to_engine(statement.text));
      has_rows = st->execute_prepared();
    }
    auto result = read(*st, has_rows);
    if (prefix.empty() && !statement.values.empty()) cache_.give_back(key, std::move(*st));
    return result;
  });
}

namespace {

std::unique_ptr<Recordset> read_rows(platform::OdbcStatement& st, bool has_rows) {
  while (!has_rows && st.next_result()) has_rows = !st.columns().empty();
  std::vector<std::string> names;
  std::vector<Recordset::Row> rows;
  if (has_rows) {
    std::vector<platform::OdbcColumn> columns = st.columns();
    for (const auto& c : columns) names.push_back(c.name);
    while (st.fetch()) {
      Recordset::Row row;
      for (std::size_t i = 0; i < columns.size(); ++i)
        row.push_back(value_of(columns[i], st.get_text(static_cast<int>(i))));
      rows.push_back(std::move(row));
    }
  }
  return std::make_unique<Recordset>(std::move(names), std::move(rows));
}

// Later statements of a batch report their errors only when their results are reached.
long long affected_rows(platform::OdbcStatement& st, bool) {
  long long affected = 0;
  do {
    affected += std::max(st.row_count(), 0LL);
  } while (st.next_result());
  return affected;
}

}  // namespace

std::unique_ptr<Recordset> OdbcEngine::Query(std::string_view sql, int timeout_seconds) {
  return QueryStatement(SqlStatement(std::string(sql)), timeout_seconds);
}

long long OdbcEngine::Run(std::string_view sql, int timeout_seconds) {
  return RunStatement(SqlStatement(std::string(sql)), timeout_seconds);
}

std::unique_ptr<Recordset> OdbcEngine::QueryStatement(const SqlStatement& statement, int timeout_seconds) {
  return run_bound(statement, timeout_seconds, read_rows);
}

long long OdbcEngine::RunStatement(const SqlStatement& statement, int timeout_seconds) {
  return run_bound(statement, timeout_seconds, affected_rows);
}

}  // namespace dexweb
