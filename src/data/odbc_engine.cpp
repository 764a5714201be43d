#include "data/internal/odbc_engine.h"

#include <limits>

#include "data/internal/db_failure.h"
#include "data/internal/error_numbers.h"
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
  return text::icontains(dbms_name, "postgres") ? DatabaseKind::PostgreSql : DatabaseKind::SqlServer;
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
    return std::make_unique<OdbcEngine>(std::move(env), std::move(connection), kind);
  });
}

std::unique_ptr<Recordset> OdbcEngine::Query(std::string_view sql, int timeout_seconds) {
  return translated([&] {
    platform::OdbcStatement st = connection_.statement();
    st.set_timeout(timeout_seconds);
    bool has_rows = st.execute(dialect_->to_engine(sql));
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
  });
}

long long OdbcEngine::Run(std::string_view sql, int timeout_seconds) {
  return translated([&] {
    platform::OdbcStatement st = connection_.statement();
    st.set_timeout(timeout_seconds);
    st.execute(dialect_->to_engine(sql));
    long long affected = 0;
    // Later statements of a batch report their errors only when their results are reached.
    do {
      affected += std::max(st.row_count(), 0LL);
    } while (st.next_result());
    return affected;
  });
}

}  // namespace dexweb
