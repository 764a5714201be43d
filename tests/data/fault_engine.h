#pragma once
// Fault injection for the data layer's tests: an engine that passes everything to the real
// one, except that the statement (Run call) number fail_at fails the way its engine fails
// in production, with the real engine's state changed accordingly:
//   - SqliteFull, SqliteInterrupt: SQLite ends the transaction itself on a full disk or an
//     interrupted statement (a statement time-out), so the real connection runs ROLLBACK,
//     then the failure is raised with that result code;
//   - ServerAbort: the server aborts the transaction: a statement that fails on the real
//     server (a division by zero) runs on the connection, leaving any open transaction in
//     the aborted state where later statements fail until a rollback, and its own failure
//     is raised.
// With persistent set every later statement fails too, until armed is cleared. Rollbacks
// always pass and are not counted: they are how the caller recovers.

#include <functional>
#include <memory>
#include <string_view>
#include <utility>

#include "data/internal/db_engine.h"
#include "data/internal/db_errors.h"
#include "data/internal/sqlite_engine.h"
#include "platform/sqlite_db.h"

namespace dexweb::test {

enum class Fault { SqliteFull, SqliteInterrupt, ServerAbort };

struct FaultPlan {
  Fault fault = Fault::SqliteFull;
  int fail_at = 0;  // 1 for the first Run call after the plan was made
  bool persistent = false;
  bool armed = true;
  int calls = 0;
  int fired = 0;
};

class FaultEngine final : public DbEngine {
 public:
  FaultEngine(std::unique_ptr<DbEngine> inner, std::shared_ptr<FaultPlan> plan)
      : inner_(std::move(inner)), plan_(std::move(plan)) {}

  std::unique_ptr<Recordset> Query(std::string_view sql, int timeout_seconds) override {
    return inner_->Query(sql, timeout_seconds);
  }
  long long Run(std::string_view sql, int timeout_seconds) override {
    FaultPlan& p = *plan_;
    if (is_rollback(sql)) return inner_->Run(sql, timeout_seconds);
    ++p.calls;
    if (p.armed && (p.calls == p.fail_at || (p.persistent && p.calls > p.fail_at))) fail();
    return inner_->Run(sql, timeout_seconds);
  }
  void SetLockRetry(int tries) override { inner_->SetLockRetry(tries); }
  bool HoldsTransaction() const override { return inner_->HoldsTransaction(); }
  const std::vector<CompanionFile>& Companions() const override { return inner_->Companions(); }
  bool EmptyLog() noexcept override { return inner_->EmptyLog(); }
  std::string_view ErrorPrefix() const override { return inner_->ErrorPrefix(); }

 private:
  static bool is_rollback(std::string_view sql) {
    return sql.starts_with("ROLLBACK") || sql.starts_with("IF @@TRANCOUNT > 0 ROLLBACK");
  }
  [[noreturn]] void fail() {
    ++plan_->fired;
    if (plan_->fault == Fault::ServerAbort) {
      inner_->Run("SELECT 1/0", 0);
      throw DbFailure(0, "the server accepted a division by zero", {}, "test");
    }
    try {
      inner_->Run("ROLLBACK", 0);
    } catch (const DbFailure&) {
      // No transaction was open yet.
    }
    constexpr int kFull = 13, kInterrupt = 9;
    if (plan_->fault == Fault::SqliteFull)
      raise_db_failure(platform::SqliteError(kFull, kFull, "database or disk is full"));
    raise_db_failure(platform::SqliteError(kInterrupt, kInterrupt, "interrupted"));
  }

  std::unique_ptr<DbEngine> inner_;
  std::shared_ptr<FaultPlan> plan_;
};

// The engine as it is, except that first runs once just before the next BEGIN (or the next
// statement that writes a message whole, WITH ...): another module's statement committing
// between this one's look-up and its transaction.
class BeforeNextBegin final : public DbEngine {
 public:
  BeforeNextBegin(std::unique_ptr<DbEngine> inner, std::function<void()> first)
      : inner_(std::move(inner)), first_(std::move(first)) {}
  std::unique_ptr<Recordset> Query(std::string_view sql, int timeout) override {
    if (first_ && sql.starts_with("WITH")) std::exchange(first_, nullptr)();
    return inner_->Query(sql, timeout);
  }
  long long Run(std::string_view sql, int timeout) override {
    if (first_ && sql.starts_with("BEGIN")) std::exchange(first_, nullptr)();
    return inner_->Run(sql, timeout);
  }
  bool HoldsTransaction() const override { return inner_->HoldsTransaction(); }
  std::string_view ErrorPrefix() const override { return inner_->ErrorPrefix(); }

 private:
  std::unique_ptr<DbEngine> inner_;
  std::function<void()> first_;
};

// Makes every engine that db opens from now on an Engine (FaultEngine, BeforeNextBegin)
// around the real one, given arg (its plan, its first statement).
template <typename Engine, typename Db, typename Arg>
void decorate_engines(Db& db, Arg arg) {
  db.SetEngineDecoratorForTests([arg](std::unique_ptr<DbEngine> inner) -> std::unique_ptr<DbEngine> {
    return std::make_unique<Engine>(std::move(inner), arg);
  });
}

}  // namespace dexweb::test
