#pragma once
// The embedded engine: the SQLite file in the gateway's data folder, in WAL mode with
// synchronous commits. A statement that meets another process's lock waits lock_delay_ms
// ms per try, for the tries last set (SetLockRetry).

#include <memory>
#include <optional>
#include <string>

#include "data/internal/db_engine.h"
#include "data/internal/statement_cache.h"
#include "platform/sqlite_db.h"

namespace dexweb {

class SqliteEngine final : public DbEngine {
 public:
  // Opens an existing file (3024 when it is missing) and sets the engine options.
  static std::unique_ptr<SqliteEngine> Open(const std::string& path, int lock_delay_ms, int lock_retries);
  SqliteEngine(platform::SqliteConnection db, int lock_delay_ms) : db_(std::move(db)), lock_delay_ms_(lock_delay_ms) {}

  std::unique_ptr<Recordset> Query(std::string_view sql, int timeout_seconds) override;
  long long Run(std::string_view sql, int timeout_seconds) override;
  long long RunStatement(const SqlStatement& statement, int timeout_seconds) override;
  std::unique_ptr<Recordset> QueryStatement(const SqlStatement& statement, int timeout_seconds) override;
  void SetLockRetry(int tries) override;
  // SQLite ends the transaction itself on some failures (a full disk, an I/O error, an
  // interrupted statement): true while it is still open.
  bool HoldsTransaction() const override { return db_.in_transaction(); }
  // The write-ahead log (path + "-wal") and its index (path + "-shm").
  const std::vector<CompanionFile>& Companions() const override { return companions_; }
  // A checkpoint that truncates the log. SQLite neither does this nor removes the log when
  // it closes a file that left its path, so the log would stay for whatever file comes
  // there next, which would then read the old file's pages from it.
  bool EmptyLog() noexcept override;
  std::string_view ErrorPrefix() const override { return "DAO: "; }

 private:
  // The first statement of sql, kept or newly prepared; rest receives the text after it.
  std::optional<platform::SqliteStatement> first_statement(std::string_view sql, std::string_view& rest);
  // The statement prepared with its values bound; nullopt when its text is not exactly one
  // statement (it then runs with its values written in).
  std::optional<platform::SqliteStatement> bound_statement(const SqlStatement& statement);
  // Offers a finished statement to the cache when it was all of sql.
  void keep(std::string_view sql, std::string_view rest, platform::SqliteStatement st);

  platform::SqliteConnection db_;
  int lock_delay_ms_;
  std::vector<CompanionFile> companions_;
  StatementCache<platform::SqliteStatement> cache_;  // after db_: its statements are finalized before the connection closes
};

// Numbers a SQLite failure in the module's numbering.
[[noreturn]] void raise_db_failure(const platform::SqliteError& e);

}  // namespace dexweb
