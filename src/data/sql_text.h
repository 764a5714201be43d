#pragma once
// The text of the module's SQL: statements whose values travel beside their text, the
// literals of hand-written statements, the blanks a statement is trimmed of, and the
// INSERT and UPDATE statements built from field names and values.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "util/nvp_list.h"
#include "util/variant.h"

namespace dexweb {

// A statement whose values may travel beside its text. Engines that bind parameters run
// the text with a "?" in each slot and the values bound there, so a statement run again
// with other values is parsed once; the others, and every log line, get the text with the
// values written in as SQL literals, exactly as if they had been written there from the
// start.
// A bound value: an integer, or a text (written in as a quoted literal).
using SqlValue = std::variant<std::int64_t, std::string>;

struct SqlStatement {
  SqlStatement() = default;
  // A statement with every value already written in.
  explicit SqlStatement(std::string sql) : text(std::move(sql)) {}

  // Appends a "?" and its value.
  void bind(SqlValue value);

  std::string text;
  // Where each "?" placeholder is in text, and its value, in order.
  std::vector<std::size_t> slots;
  std::vector<SqlValue> values;
};

// The statement's text with each value written in: a text as 'it''s', an integer in digits.
std::string inline_values(const SqlStatement& statement);

// SQL literals for hand-written statements, in the dialect of the database they are for.
// Each literal carries a blank on each side where the module's statements expect one.
class Dialect;

// Blank, quote, the text with every quote doubled, quote, blank: it's -> " 'it''s' ".
// A Null value gives " NULL ".
std::string sql_string(const Variant& value);
// The date literal of value when it is a date or text that reads as one, else of server_now.
std::string sql_date(const Dialect& dialect, const Variant& value);
// Blank, the value's text form, blank. A Null value gives " NULL ".
std::string sql_number(const Variant& value);
// The database's "now": the server's own clock on a server, server_now's literal otherwise.
std::string db_now(const Dialect& dialect);

// Trimming of "blank" characters as statements are checked: a blank is any character whose
// ANSI (Windows-1252) code is below 33 or above 127, or that has no ANSI code at all.
std::string trim_blanks(std::string_view s);
std::string rtrim_blanks(std::string_view s);
std::string ltrim_blanks(std::string_view s);

// Builds the module's INSERT and UPDATE statements from field names and values, writing
// every value as the SQL literal of its type in the dialect given:
//   7 date -> sql_date, 8 text -> sql_string, 11 Boolean -> the dialect's True/False,
//   36 column reference -> [value], Null -> NULL, anything else -> the value's text form
//   (so ForceType 1 puts a ready SQL expression such as db_now() into the statement).
// Statements are laid out with CR LF line ends and a line break after every fourth field.
class Dialect;

class QueryObject {
 public:
  static constexpr int kUpdate = 0, kInsert = 1, kNone = 2;

  int QueryType() const { return query_type_; }
  void SetQueryType(int type) { query_type_ = type; }
  void SetTableName(std::string_view name) { table_name_ = name; }
  // The UPDATE's condition, without the word WHERE and without parentheses.
  void SetWhereClause(std::string_view where) { where_clause_ = where; }

  // The statement; empty text when QueryType is neither update nor insert. With a quick
  // table (and a quick type other than kNone) the object is first cleared and refilled from
  // the quick arguments: quick_fields holds name, value, name, value, ...
  std::string Build(const Dialect& dialect, int quick_type = kNone, std::string_view quick_table = {},
                    const std::vector<Variant>& quick_fields = {}, std::string_view quick_where = {});
  // The same statement with its texts and whole numbers as bound values (SqlStatement above):
  // inline_values() of it is Build's text.
  SqlStatement BuildBound(const Dialect& dialect) const;
  // Empties the fields, the table name and the condition; QueryType becomes kNone.
  void Clear();
  int Count() const { return fields_.Count(); }
  // force_type 0 lets the value's own kind decide its literal. Returns the new field's index.
  int Add(std::string_view name, Variant value, int force_type = 0);

 private:
  std::string literal(const Dialect& dialect, int index) const;
  void append_value(SqlStatement& out, const Dialect& dialect, int index, bool bind) const;
  SqlStatement compose(const Dialect& dialect, bool bind) const;

  int query_type_ = kUpdate;
  std::string table_name_;
  std::string where_clause_;
  NVPList fields_;
};

}  // namespace dexweb
