#include "data/sql_text.h"

#include "data/dialect.h"
#include "platform/clock.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {

namespace {

std::string literal(const SqlValue& value) {
  if (const auto* n = std::get_if<std::int64_t>(&value)) return std::to_string(*n);
  return "'" + text::replace_all(std::get<std::string>(value), "'", "''") + "'";
}

}  // namespace

void SqlStatement::bind(SqlValue value) {
  slots.push_back(text.size());
  text += '?';
  values.push_back(std::move(value));
}

std::string inline_values(const SqlStatement& statement) {
  if (statement.values.empty()) return statement.text;
  std::string out;
  std::size_t from = 0;
  for (std::size_t i = 0; i < statement.slots.size(); ++i) {
    out.append(statement.text, from, statement.slots[i] - from);
    out += literal(statement.values[i]);
    from = statement.slots[i] + 1;
  }
  out.append(statement.text, from);
  return out;
}

std::string sql_string(const Variant& value) {
  if (is_null(value)) return " NULL ";
  return " '" + text::replace_all(to_text(value), "'", "''") + "' ";
}

std::string sql_date(const Dialect& dialect, const Variant& value) {
  DateTime when = platform::server_now();
  if (auto* d = std::get_if<DateTime>(&value)) {
    when = *d;
  } else if (auto* s = std::get_if<std::string>(&value)) {
    if (auto parsed = parse_datetime(text::trim(*s))) when = *parsed;
  }
  return dialect.date_literal(when);
}

std::string sql_number(const Variant& value) {
  if (is_null(value)) return " NULL ";
  return " " + to_text(value) + " ";
}

std::string db_now(const Dialect& dialect) { return dialect.now_expression(); }

namespace {

bool is_blank(char32_t cp) {
  int code = text::code_1252(cp);
  return code < 33 || code > 127;
}

}  // namespace

// ASCII text (every statement's own text) is cut where it is, without decoding it.
std::string rtrim_blanks(std::string_view s) {
  if (text::is_ascii(s)) {
    std::size_t end = s.size();
    while (end > 0 && static_cast<unsigned char>(s[end - 1]) < 33) --end;
    return std::string(s.substr(0, end));
  }
  std::u32string u = text::to_u32(s);
  while (!u.empty() && is_blank(u.back())) u.pop_back();
  return text::to_utf8(u);
}

std::string ltrim_blanks(std::string_view s) {
  std::u32string u = text::to_u32(s);
  std::size_t start = 0;
  while (start < u.size() && is_blank(u[start])) ++start;
  return text::to_utf8(std::u32string_view(u).substr(start));
}

std::string trim_blanks(std::string_view s) { return ltrim_blanks(rtrim_blanks(s)); }

namespace {

constexpr std::string_view kCrLf = "\r\n";

// ", " between fields, with a line break after every fourth.
void separator(std::string& out, int index) {
  out += ", ";
  if (index % 4 == 0) out += kCrLf;
}

}  // namespace

void QueryObject::Clear() {
  // A query object is filled again for every row: its storage stays.
  fields_.ClearKeepingStorage();
  table_name_.clear();
  where_clause_.clear();
  query_type_ = kNone;
}

int QueryObject::Add(std::string_view name, Variant value, int force_type) {
  return fields_.Add(name, std::move(value), force_type);
}

std::string QueryObject::literal(const Dialect& dialect, int index) const {
  int type = fields_.GetTypeByIndex(index);
  Variant value;
  try {
    value = fields_.GetValueByIndex(index);
  } catch (const RuntimeError&) {
    // A field forced to be a date whose value does not read as one: the current time.
    if (type != vt::kDate) throw;
  }
  if (is_null(value)) return "NULL";
  switch (type) {
    case vt::kDate: return sql_date(dialect, value);
    case vt::kString: return sql_string(value);
    case vt::kBoolean: return dialect.boolean_literal(to_bool(value));
    case vt::kRecord: return "[" + to_text(value) + "]";
    default: return to_text(value);
  }
}

// The value goes beside the text where the engine would store the same thing as from its
// literal: texts and whole numbers. Everything else is written in.
void QueryObject::append_value(SqlStatement& out, const Dialect& dialect, int index, bool bind) const {
  const int type = fields_.GetTypeByIndex(index);
  if (bind && type == vt::kString) {
    // A text stored as text is bound as it is: no copy for the conversion.
    const auto* stored = std::get_if<std::string>(&fields_.StoredValueAt(index));
    const Variant converted = stored ? Variant{} : fields_.GetValueByIndex(index);
    if (stored || !is_null(converted)) {
      out.text += ' ';
      out.bind(stored ? *stored : to_text(converted));
      out.text += ' ';
      return;
    }
  }
  if (bind && (type == vt::kInteger || type == vt::kLong)) {
    const Variant value = fields_.GetValueByIndex(index);
    if (const auto* n = std::get_if<std::int16_t>(&value); n && type == vt::kInteger) return out.bind(std::int64_t{*n});
    if (const auto* n = std::get_if<std::int32_t>(&value); n && type == vt::kLong) return out.bind(std::int64_t{*n});
  }
  out.text += literal(dialect, index);
}

std::string QueryObject::Build(const Dialect& dialect, int quick_type, std::string_view quick_table,
                               const std::vector<Variant>& quick_fields, std::string_view quick_where) {
  if (!quick_table.empty() && quick_type != kNone) {
    Clear();
    query_type_ = quick_type;
    table_name_ = quick_table;
    for (std::size_t i = 0; i + 1 < quick_fields.size(); i += 2) Add(to_text(quick_fields[i]), quick_fields[i + 1]);
    where_clause_ = quick_where;
  }
  return compose(dialect, false).text;
}

SqlStatement QueryObject::BuildBound(const Dialect& dialect) const { return compose(dialect, true); }

SqlStatement QueryObject::compose(const Dialect& dialect, bool bind) const {
  const int n = Count();
  SqlStatement out;
  std::string& text = out.text;
  text.reserve(64 + 32 * static_cast<std::size_t>(n));
  if (bind) {
    out.slots.reserve(static_cast<std::size_t>(n));
    out.values.reserve(static_cast<std::size_t>(n));
  }
  if (query_type_ == kInsert) {
    text += "INSERT INTO [" + table_name_ + "] (";
    text += kCrLf;
    for (int i = 1; i <= n; ++i) {
      text += '[';
      text += fields_.NameAt(i);
      text += ']';
      if (i < n) separator(text, i);
    }
    text += ")";
    text += kCrLf;
    text += "VALUES (";
    text += kCrLf;
    for (int i = 1; i <= n; ++i) {
      append_value(out, dialect, i, bind);
      if (i < n) separator(text, i);
    }
    text += ")";
    text += kCrLf;
  } else if (query_type_ == kUpdate) {
    text += "UPDATE [" + table_name_ + "]";
    text += kCrLf;
    text += "SET";
    text += kCrLf;
    for (int i = 1; i <= n; ++i) {
      text += '[';
      text += fields_.NameAt(i);
      text += "] = ";
      append_value(out, dialect, i, bind);
      if (i < n) separator(text, i);
    }
    text += kCrLf;
    if (!where_clause_.empty()) text += "WHERE (" + where_clause_ + ")";
  }
  return out;
}

}  // namespace dexweb
