#include "data/dialect.h"

#include "data/sql_text.h"
#include "platform/clock.h"
#include "util/datetime.h"

namespace dexweb {
namespace {

std::string iso_date(DateTime value, char separator) { return "'" + format_datetime(value, separator) + "'"; }

std::string lower_equals(std::string_view column, std::string_view literal) {
  return "LOWER(" + std::string(column) + ") = LOWER(" + std::string(literal) + ")";
}

constexpr const char* kCounterUpdate = "UPDATE [counters] SET [unique_id] = [unique_id] % 2000000000 + 1";

class EmbeddedDialect final : public Dialect {
 public:
  DatabaseKind kind() const override { return DatabaseKind::Embedded; }
  std::string quote_identifier(std::string_view name) const override { return "[" + std::string(name) + "]"; }
  std::string boolean_literal(bool value) const override { return value ? "True" : "False"; }
  std::string date_literal(DateTime value) const override { return iso_date(value, ' '); }
  std::string now_expression() const override { return " " + date_literal(platform::server_now()) + " "; }
  std::string table_hint() const override { return {}; }
  std::string select_top1(std::string_view rest) const override {
    return "SELECT " + std::string(rest) + " LIMIT 1";
  }
  std::string equals_ignoring_case(std::string_view column, std::string_view literal) const override {
    return lower_equals(column, literal);
  }
  std::string isolation_statement(std::string_view) const override { return {}; }
  std::string begin_statement() const override { return "BEGIN IMMEDIATE"; }
  std::string batch_transaction_prefix() const override { return begin_statement() + ";\r\n"; }
  std::string batch_commit_entry() const override { return "COMMIT;"; }
  std::string rollback_statement() const override { return "ROLLBACK"; }
};

class SqlServerDialect final : public Dialect {
 public:
  DatabaseKind kind() const override { return DatabaseKind::SqlServer; }
  std::string quote_identifier(std::string_view name) const override { return "[" + std::string(name) + "]"; }
  std::string boolean_literal(bool value) const override { return value ? "1" : "0"; }
  std::string date_literal(DateTime value) const override { return iso_date(value, 'T'); }
  std::string now_expression() const override { return " GetDate() "; }
  std::string table_hint() const override { return " WITH (NOLOCK)"; }
  std::string select_top1(std::string_view rest) const override { return "SELECT TOP 1 " + std::string(rest); }
  std::string equals_ignoring_case(std::string_view column, std::string_view literal) const override {
    return std::string(column) + " =" + std::string(literal);
  }
  std::string isolation_statement(std::string_view level) const override {
    return "SET TRANSACTION ISOLATION LEVEL " + std::string(level);
  }
  std::string begin_statement() const override { return "BEGIN TRANSACTION"; }
  // XACT_ABORT makes an error in any statement roll the whole transaction back and end the
  // batch; without it the server goes on and COMMIT keeps the statements that worked, so a
  // message retried later would page its first recipients twice.
  std::string batch_transaction_prefix() const override {
    return "SET NOCOUNT ON; \r\nSET XACT_ABORT ON; \r\nBEGIN TRANSACTION;\r\n";
  }
  std::string batch_commit_entry() const override { return "COMMIT TRANSACTION;"; }
  std::string rollback_statement() const override { return "IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION"; }
};

class PostgreSqlDialect final : public Dialect {
 public:
  DatabaseKind kind() const override { return DatabaseKind::PostgreSql; }
  std::string quote_identifier(std::string_view name) const override {
    std::string out = "\"";
    for (char c : name) {
      if (c == '"') out += '"';
      out += c;
    }
    return out + "\"";
  }
  std::string boolean_literal(bool value) const override { return value ? "TRUE" : "FALSE"; }
  std::string date_literal(DateTime value) const override { return iso_date(value, ' '); }
  std::string now_expression() const override { return " LOCALTIMESTAMP "; }
  std::string table_hint() const override { return {}; }
  std::string select_top1(std::string_view rest) const override {
    return "SELECT " + std::string(rest) + " LIMIT 1";
  }
  std::string equals_ignoring_case(std::string_view column, std::string_view literal) const override {
    return lower_equals(column, literal);
  }
  std::string isolation_statement(std::string_view level) const override {
    return "SET SESSION CHARACTERISTICS AS TRANSACTION ISOLATION LEVEL " +
           std::string(level == "SNAPSHOT" ? "REPEATABLE READ" : level);
  }
  std::string begin_statement() const override { return "BEGIN"; }
  std::string batch_transaction_prefix() const override { return "BEGIN;\r\n"; }
  std::string batch_commit_entry() const override { return "COMMIT;"; }
  std::string rollback_statement() const override { return "ROLLBACK"; }
  std::string to_engine(std::string_view sql) const override;
};

// Bracketed names become quoted identifiers; text inside string literals and inside
// already quoted identifiers is copied as it is.
std::string PostgreSqlDialect::to_engine(std::string_view sql) const {
  std::string out;
  out.reserve(sql.size() + 16);
  for (std::size_t i = 0; i < sql.size();) {
    char c = sql[i];
    if (c == '\'' || c == '"') {
      std::size_t end = i + 1;
      while (end < sql.size() && sql[end] != c) ++end;
      end = end < sql.size() ? end + 1 : end;  // a doubled quote reads as two literals
      out.append(sql.substr(i, end - i));
      i = end;
    } else if (c == '[') {
      std::size_t close = sql.find(']', i + 1);
      if (close == std::string_view::npos) {
        out.append(sql.substr(i));
        break;
      }
      out += quote_identifier(sql.substr(i + 1, close - i - 1));
      i = close + 1;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace

std::string Dialect::counter_advance(int record_id) const {
  return std::string(kCounterUpdate) + " WHERE ([record_id] =" + sql_number(record_id) + ")";
}

std::string Dialect::counter_value(int record_id) const {
  return "COALESCE((SELECT [unique_id] FROM [counters] WHERE ([record_id] =" + sql_number(record_id) + ")), 0)";
}

const Dialect& dialect_for(DatabaseKind kind) {
  static const EmbeddedDialect embedded;
  static const SqlServerDialect sql_server;
  static const PostgreSqlDialect postgresql;
  switch (kind) {
    case DatabaseKind::SqlServer: return sql_server;
    case DatabaseKind::PostgreSql: return postgresql;
    default: return embedded;
  }
}

}  // namespace dexweb
