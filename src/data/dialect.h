#pragma once
// What differs between the database kinds, one object per kind: literals, identifier
// quoting, the table hint, "now", "top 1", name comparison, the counter step, the isolation statement and
// the transaction wrapping of a statement batch. The module writes its SQL with bracketed
// identifiers ([messages]); to_engine() turns that text into what the engine accepts.

#include <string>
#include <string_view>

#include "util/datetime.h"

namespace dexweb {

// The database behind DBObject: the embedded file, or a server reached over ODBC whose
// dialect follows the DBMS the driver reports.
enum class DatabaseKind { Embedded, SqlServer, PostgreSql };

class Dialect {
 public:
  virtual ~Dialect() = default;

  virtual DatabaseKind kind() const = 0;
  // The identifier as written in this dialect's SQL.
  virtual std::string quote_identifier(std::string_view name) const = 0;
  virtual std::string boolean_literal(bool value) const = 0;
  // A date-time literal, quotes included.
  virtual std::string date_literal(DateTime value) const = 0;
  // The database's current time as an expression, with a blank on each side.
  virtual std::string now_expression() const = 0;
  // Written directly after a table name in a SELECT.
  virtual std::string table_hint() const = 0;
  // A SELECT of the first row only; rest is everything after the word SELECT
  // ("[a], [b] FROM [t] WHERE (...)").
  virtual std::string select_top1(std::string_view rest) const = 0;
  // A condition that holds when the text column (as written in the module's SQL, "[name]")
  // equals literal (a text literal as sql_string writes it) without regard to case, as names
  // compare everywhere in the gateway. SQL Server compares so by its collation and gets the
  // plain "[name] = 'x' "; the others compare both sides in lower case, which needs no
  // change to an existing database.
  virtual std::string equals_ignoring_case(std::string_view column, std::string_view literal) const = 0;
  // A message's id is drawn in the transaction of its rows, so that they commit together
  // with one commit: the counter's step without returning its value, and its new value as
  // an SQL expression for the rows (0 without a counters row). The step holds the counters
  // row's lock until the commit, so modules sharing the database write their messages one
  // after another.
  std::string counter_advance(int record_id) const;
  std::string counter_value(int record_id) const;
  // The statement that sets the session's isolation level; empty when the kind has none.
  virtual std::string isolation_statement(std::string_view level) const = 0;
  // Starts a transaction.
  virtual std::string begin_statement() const = 0;
  // Opening text of a transactional batch, and the list entry that closes it (which also
  // commits a transaction opened by begin_statement()).
  virtual std::string batch_transaction_prefix() const = 0;
  virtual std::string batch_commit_entry() const = 0;
  // Undoes an open transaction; harmless when none is open.
  virtual std::string rollback_statement() const = 0;
  // The module's SQL text as the engine takes it.
  virtual std::string to_engine(std::string_view sql) const { return std::string(sql); }
};

const Dialect& dialect_for(DatabaseKind kind);

}  // namespace dexweb
