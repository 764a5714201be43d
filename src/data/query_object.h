#pragma once
// Builds the module's INSERT and UPDATE statements from field names and values, writing
// every value as the SQL literal of its type in the dialect given:
//   7 date -> sql_date, 8 text -> sql_string, 11 Boolean -> the dialect's True/False,
//   36 column reference -> [value], Null -> NULL, anything else -> the value's text form
//   (so ForceType 1 puts a ready SQL expression such as db_now() into the statement).
// Statements are laid out with CR LF line ends and a line break after every fourth field.

#include <string>
#include <string_view>
#include <vector>

#include "data/sql_statement.h"
#include "util/nvp_list.h"
#include "util/variant.h"

namespace dexweb {

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
  // The same statement with its texts and whole numbers as bound values (data/sql_statement.h):
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
