#include "intake/message_rows.h"

#include <chrono>
#include <cstdint>

#include "data/db_object.h"
#include "data/dialect.h"
#include "data/sql_text.h"
#include "platform/clock.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::int16_t kWebStation = 4;
constexpr std::size_t kMachineNameLimit = 40;

DateTime last_try(const std::string& retry_interval) {
  const auto seconds = text::parse_number(retry_interval).value_or(0);
  return platform::server_now() - std::chrono::milliseconds(text::round_half_even((seconds + 1) * 1000));
}

// Appends piece, its text, slots and values, to out.
void append(SqlStatement& out, const SqlStatement& piece) {
  const std::size_t offset = out.text.size();
  out.text += piece.text;
  for (std::size_t slot : piece.slots) out.slots.push_back(offset + slot);
  out.values.insert(out.values.end(), piece.values.begin(), piece.values.end());
}

bool is_number(const SqlValue& value) { return std::holds_alternative<std::int64_t>(value); }

// The values of one slot of the rows as a PostgreSQL array literal. Every text is quoted and
// its quotes and backslashes escaped, so that none reads as NULL, as a separator or as a
// nested array, and blanks stay as they are.
std::string array_literal(std::span<const SqlStatement> rows, std::size_t slot) {
  std::string out = "{";
  for (const SqlStatement& row : rows) {
    if (out.size() > 1) out += ',';
    const SqlValue& value = row.values[slot];
    if (const auto* n = std::get_if<std::int64_t>(&value)) {
      out += std::to_string(*n);
      continue;
    }
    out += '"';
    for (char c : std::get<std::string>(value)) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    out += '"';
  }
  return out + "}";
}

bool same_shape(std::span<const SqlStatement> rows) {
  const SqlStatement& first = rows.front();
  for (const SqlStatement& row : rows) {
    if (row.text != first.text || row.values.size() != first.values.size()) return false;
    for (std::size_t j = 0; j < row.values.size(); ++j)
      if (is_number(row.values[j]) != is_number(first.values[j])) return false;
  }
  return true;
}

// The rows' INSERT ... VALUES as one INSERT ... SELECT from the arrays unnested in step with
// the rows' numbers, written in that order, and only where the record was new. Where the
// rows took the id from the counters row they take the one just drawn (a statement sees the
// tables as they were when it began).
std::optional<SqlStatement> rows_from_arrays(std::span<const SqlStatement> rows, const std::string& id_value) {
  constexpr std::string_view kValues = "VALUES (";
  const SqlStatement& first = rows.front();
  const std::size_t values_at = first.text.find(kValues);
  const std::size_t close = first.text.rfind(')');
  if (values_at == std::string::npos || close == std::string::npos || close < values_at || !same_shape(rows))
    return std::nullopt;
  for (std::size_t slot : first.slots)
    if (slot < values_at || slot > close) return std::nullopt;
  auto literal_part = [&](std::size_t from, std::size_t to) {
    const std::string part = first.text.substr(from, to - from);
    return id_value.empty() ? part : text::replace_all(part, id_value, "COALESCE((SELECT [unique_id] FROM [drawn_id]), 0)");
  };
  SqlStatement select(first.text.substr(0, values_at) + "SELECT ");
  SqlStatement arrays(" FROM unnest(CAST(");
  std::string numbers = "{";
  for (std::size_t i = 1; i <= rows.size(); ++i) numbers += (i > 1 ? "," : "") + std::to_string(i);
  arrays.bind(numbers + "}");
  arrays.text += " AS integer ARRAY)";
  std::string names = "[n]";
  std::size_t from = values_at + kValues.size();
  for (std::size_t j = 0; j < first.slots.size(); ++j) {
    select.text += literal_part(from, first.slots[j]);
    from = first.slots[j] + 1;
    const std::string type = is_number(first.values[j]) ? "bigint" : "text";
    bool shared = true;
    for (const SqlStatement& row : rows) shared = shared && row.values[j] == first.values[j];
    if (shared) {
      select.text += "CAST(";
      select.bind(first.values[j]);
      select.text += " AS " + type + ")";
      continue;
    }
    const std::string name = "[v" + std::to_string(j + 1) + "]";
    select.text += "[each_row]." + name;
    names += ", " + name;
    arrays.text += ", CAST(";
    arrays.bind(array_literal(rows, j));
    arrays.text += " AS " + type + " ARRAY)";
  }
  select.text += literal_part(from, close);
  arrays.text += ") AS [each_row](" + names + ") WHERE EXISTS (SELECT 1 FROM [worked_row]) ORDER BY [each_row].[n]";
  append(select, arrays);
  return select;
}

}  // namespace

RowRecipient account_recipient(const std::string& item) { return {item, "", item}; }

RowRecipient ad_hoc_recipient(const std::string& user, const std::string& pin) { return {user, pin, user + "-" + pin}; }

SqlStatement build_message_row(const Dialect& dialect, QueryObject& q, const WebMessage& msg, const RowRecipient& to,
                              const RowSource& source) {
  constexpr int kAsWritten = 1;
  const std::string now = db_now(dialect);
  const std::string none;
  const std::int16_t zero = 0;
  q.Clear();
  q.SetQueryType(QueryObject::kInsert);
  q.SetTableName("messages");
  q.Add("user", to.user);
  q.Add("pin", to.pin);
  q.Add("message", msg.message);
  q.Add("carrier", none);
  q.Add("date_time_requested", now, kAsWritten);
  q.Add("date_time_sent", now, kAsWritten);
  q.Add("scheduled", false);
  q.Add("sent", false);
  q.Add("ascii_file", none);
  q.Add("mail_file", none);
  q.Add("frm", msg.frm);
  q.Add("error", false);
  q.Add("lock", false);
  q.Add("surecast_index", zero);
  q.Add("repeat_interval", zero);
  q.Add("repeat_stop", now, kAsWritten);
  q.Add("station", kWebStation);
  q.Add("retries", zero);
  q.Add("last_try", last_try(source.retry_interval));
  if (!msg.id_with_rows.empty()) q.Add("transaction", msg.id_with_rows, kAsWritten);
  else q.Add("transaction", std::int32_t{msg.transaction_id});
  q.Add("creator_name", source.creator_name);
  q.Add("creator_machine", text::left(source.creator_machine, kMachineNameLimit));
  q.Add("original_recipient", to.recipient);
  q.Add("last_recipient", to.recipient);
  q.Add("server", none);
  q.Add("archived", false);
  q.Add("priority", zero);
  q.Add("dialer", zero);
  q.SetWhereClause("");
  return q.BuildBound(dialect);
}

std::optional<SqlStatement> fold_message_write(const Dialect& dialect, int counter_record, const SqlStatement& record,
                                               std::span<const SqlStatement> statements) {
  if (dialect.kind() != DatabaseKind::PostgreSql) return std::nullopt;
  const std::string draw = dialect.counter_advance(counter_record);
  const bool draws = !statements.empty() && statements.front().text == draw;
  const std::span<const SqlStatement> rows = statements.subspan(draws ? 1 : 0);
  // A record already there (or committed meanwhile by another module) is no error: the
  // statement's answer says so, and the rest is written only where the record was new.
  SqlStatement out("WITH [worked_row] AS (");
  append(out, record);
  out.text += " ON CONFLICT DO NOTHING RETURNING 1)";
  if (draws) out.text += ",\r\n[drawn_id] AS (" + draw + " AND EXISTS (SELECT 1 FROM [worked_row]) RETURNING [unique_id])";
  if (!rows.empty()) {
    const std::optional<SqlStatement> inserts = rows_from_arrays(rows, draws ? dialect.counter_value(counter_record) : "");
    if (!inserts) return std::nullopt;
    out.text += ",\r\n[message_rows] AS (";
    append(out, *inserts);
    out.text += ")";
  }
  out.text += "\r\nSELECT COUNT(*) AS [worked] FROM [worked_row]";
  return out;
}

void write_message_rows(DBObject& db, const std::vector<SqlStatement>& statements) {
  // Never into a database file that was deleted or replaced under the connection.
  db.CheckDatabaseFile();
  db.BulkExecute(statements);
}

}  // namespace dexweb
