#pragma once
// One open connection to a database engine, as DBObject drives it. Every call throws
// DbFailure (already numbered) when the engine reports an error; none retries.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/db_object.h"
#include "data/sql_text.h"
#include "platform/files.h"

namespace dexweb {

// A file beside the database file that belongs to one connection's view of it.
struct CompanionFile {
  std::string path;
  std::optional<platform::FileIdentity> identity;  // none when it was not there
};

class DbEngine {
 public:
  virtual ~DbEngine() = default;

  // Runs a query and returns all its rows. timeout_seconds 0 means no limit.
  virtual std::unique_ptr<Recordset> Query(std::string_view sql, int timeout_seconds) = 0;
  // Runs one or more statements; returns the rows they affected (0 when unknown).
  virtual long long Run(std::string_view sql, int timeout_seconds) = 0;
  // Query and Run of one statement with its values: bound where the engine binds them,
  // otherwise written into its text.
  virtual std::unique_ptr<Recordset> QueryStatement(const SqlStatement& statement, int timeout_seconds) {
    return Query(inline_values(statement), timeout_seconds);
  }
  virtual long long RunStatement(const SqlStatement& statement, int timeout_seconds) {
    return Run(inline_values(statement), timeout_seconds);
  }

  // Asked after a statement inside an open transaction failed: true when the engine still
  // holds that transaction with the earlier statements' work, so the failed statement alone
  // may run again. False when the transaction is gone or unusable (the engine rolled it
  // back, the connection was lost, or a server may have aborted it): then the caller rolls
  // back and runs the whole transaction again from its start.
  virtual bool HoldsTransaction() const = 0;

  // The files the connection keeps open beside the database file (an embedded database's
  // write-ahead log and its index), each as it was when the connection opened it; none on
  // a server.
  virtual const std::vector<CompanionFile>& Companions() const {
    static const std::vector<CompanionFile> none;
    return none;
  }
  // Writes everything the connection's log holds into the database file it was written
  // for and empties the log. False when that could not be done (another connection still
  // reads from the log); never raises.
  virtual bool EmptyLog() noexcept { return true; }

  // How many lock waits of lock_delay_ms ms a statement makes before it fails as locked.
  // Only the embedded engine has this setting.
  virtual void SetLockRetry(int /*tries*/) {}


  // "DAO: " or "ADO: ": the prefix of the engine's error lines in the log.
  virtual std::string_view ErrorPrefix() const = 0;
};

}  // namespace dexweb
