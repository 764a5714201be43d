#include "data/query_object.h"

#include "data/dialect.h"
#include "data/sql_literals.h"
#include "util/runtime_error.h"

namespace dexweb {
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
