#pragma once
// A server database over ODBC. The dialect is chosen from the DBMS name the driver reports
// (PostgreSQL, otherwise Microsoft SQL Server), and every statement is handed to the driver
// in that dialect's form. A statement's time-out costs no round trip of its own: SQL Server's
// driver keeps it on the client; on PostgreSQL it is set on the session, in the text of the
// statement that needs it, only when it differs from the session's.
// A statement's values are bound to its "?" markers, not written into its text: as UTF-8 on
// PostgreSQL (its Unicode driver takes it as it is), as UTF-16 on SQL Server. Statements
// whose text comes again (a message's batch) are kept prepared on the connection.

#include <memory>
#include <string>
#include <string_view>

#include "data/internal/db_engine.h"
#include "data/internal/statement_cache.h"
#include "data/dialect.h"
#include "platform/odbc.h"

namespace dexweb {

class OdbcEngine final : public DbEngine {
 public:
  // Connects with ODBC clauses ("Driver=...;Server=...;"); throws DbFailure.
  static std::unique_ptr<OdbcEngine> Connect(const std::string& clauses);
  OdbcEngine(std::unique_ptr<platform::OdbcEnvironment> env, platform::OdbcConnection connection,
             DatabaseKind kind);

  DatabaseKind kind() const { return dialect_->kind(); }

  std::unique_ptr<Recordset> Query(std::string_view sql, int timeout_seconds) override;
  long long Run(std::string_view sql, int timeout_seconds) override;
  std::unique_ptr<Recordset> QueryStatement(const SqlStatement& statement, int timeout_seconds) override;
  long long RunStatement(const SqlStatement& statement, int timeout_seconds) override;
  std::string_view ErrorPrefix() const override { return "ADO: "; }
  // Never: after a failure PostgreSQL keeps the transaction only in an aborted state, SQL
  // Server (XACT_ABORT) has rolled it back, and a lost connection took it along.
  bool HoldsTransaction() const override { return false; }

 private:
  // What goes in front of sql so that it runs with the time-out: a SET on PostgreSQL when
  // the session's differs, else nothing (SQL Server's is the handle's attribute).
  std::string timeout_prefix(std::string_view sql, int timeout_seconds);
  // Runs sql's text on a statement handle with the statement's values bound, then read(handle,
  // has_rows). A text that goes without a prefix runs prepared and its handle is kept.
  template <typename Read>
  auto run_bound(const SqlStatement& statement, int timeout_seconds, Read&& read);
  template <typename Fn>
  auto call(Fn&& fn);

  std::unique_ptr<platform::OdbcEnvironment> env_;
  platform::OdbcConnection connection_;
  const Dialect* dialect_;
  int session_timeout_ = -1;  // seconds as last set on a PostgreSQL session; -1 unknown
  StatementCache<platform::OdbcStatement> cache_;  // after connection_: freed before it
};

// The dialect for a DBMS name as drivers report it: PostgreSQL or Microsoft SQL Server. Any
// other raises the final RuntimeError kDbNotSupported ("not supported: NAME ODBC; ...").
DatabaseKind kind_for_dbms(std::string_view dbms_name);

}  // namespace dexweb
