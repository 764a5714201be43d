// A message's rows are stored all or none on every engine, whatever statement fails and
// however the engine fails it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "data/db_object.h"
#include "data/engine_fixture.h"
#include "data/fault_engine.h"
#include "data/sql_text.h"
#include "intake/message_rows.h"
#include "platform/clock.h"
#include "support/temp_dir.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

using test::Fault;
using test::FaultPlan;

constexpr int kRows = 20;

// kRows rows of one message. On SQLite every statement is an engine call of its own; on a
// server the values travel beside the text, and the whole message is one batch.
std::vector<SqlStatement> message_rows(const Dialect& dialect, int transaction_id) {
  WebMessage msg;
  msg.message = std::string(11000, 'x');
  msg.frm = "sender";
  msg.transaction_id = transaction_id;
  const RowSource source{"DexWeb", "gateway-1", "60"};
  QueryObject q;
  std::vector<SqlStatement> rows;
  for (int i = 1; i <= kRows; ++i)
    rows.push_back(build_message_row(dialect, q, msg, account_recipient("u" + std::to_string(i)), source));
  return rows;
}

// Rows as another connection sees them (committed rows only).
int stored(const test::TestDatabase& database, std::string_view where = "") {
  DBObject other(database.settings());
  auto rs = other.OpenRecordset("SELECT COUNT(*) AS n FROM [messages]" + other.SqlDialect().table_hint() + std::string(where));
  return rs->AsLong("n");
}

void clear_messages(const test::TestDatabase& database) {
  DBObject other(database.settings());
  other.Execute("DELETE FROM [messages]");
}

// One way an engine fails a statement, and the number the failure is raised with. On a
// server the fault is a real failing statement; what happens to the transaction then is the
// ODBC driver's choice, set by the level of rollback on errors in its connection clauses
// (psqlODBC "Protocol=7.4-<level>"): 0 leaves it aborted on the server (later statements
// fail until a rollback), 1 rolls it back, 2 (the default) rolls back the failed statement only.
struct FaultCase {
  Fault fault;
  int driver_rollback;
  int number;
  std::string name;
};

class MessageTransaction : public test::EngineTest {
 protected:
  std::vector<FaultCase> cases() const {
    // A full disk and a statement time-out are retryable; the server's is the division by
    // zero that fails it.
    if (GetParam() == "sqlite")
      return {{Fault::SqliteFull, -1, 3043, "SQLITE_FULL"}, {Fault::SqliteInterrupt, -1, 3146, "SQLITE_INTERRUPT"}};
    std::vector<FaultCase> server;
    for (int level : {0, 1, 2})
      server.push_back({Fault::ServerAbort, level, 3464, "server failure, driver rollback level " + std::to_string(level)});
    return server;
  }
  // Engine calls per message: BEGIN, the rows and COMMIT on SQLite; one batch on a server.
  int calls_per_message() const { return GetParam() == "sqlite" ? kRows + 2 : 1; }

  // A database object whose engine fails its k-th call as c says.
  std::unique_ptr<DBObject> faulty_db(const FaultCase& c, const std::shared_ptr<FaultPlan>& plan) {
    if (c.driver_rollback >= 0) {
      const std::string file = database().dir() + "SqlServerConnectionString.txt";
      if (clauses_.empty()) clauses_ = test::read_text(file);
      test::write_text(file, clauses_ + "Protocol=7.4-" + std::to_string(c.driver_rollback) + ";\r\n");
    }
    DatabaseSettings settings = database().settings();
    settings.retries = retries_;
    auto db = std::make_unique<DBObject>(std::move(settings));
    db->OpenDb(1);
    test::inject_faults(*db, plan);
    return db;
  }

  // DB_Retries of the objects faulty_db makes.
  int retries_ = 3;
  // The retry waits (DB_Short_Timeout and more) pass at once.
  platform::ManualClock clock_{std::chrono::system_clock::now()};
  platform::ScopedClock use_clock_{clock_};

 private:
  std::string clauses_;
};
DEXWEB_INSTANTIATE_ENGINES(MessageTransaction);

// Without retries the failure is raised: none of the rows stays, the number is the
// engine's, and the same object then stores the whole message exactly once.
TEST_P(MessageTransaction, AFailedStatementLeavesNoRowAndTheNextCallStoresAll) {
  retries_ = 0;
  for (const FaultCase& c : cases()) {
    for (int k = 1; k <= calls_per_message(); ++k) {
      SCOPED_TRACE(c.name + " at call " + std::to_string(k));
      auto plan = std::make_shared<FaultPlan>(FaultPlan{c.fault, k});
      auto db = faulty_db(c, plan);
      const auto rows = message_rows(db->SqlDialect(), k);
      try {
        write_message_rows(*db, rows);
        ADD_FAILURE() << "no error raised";
      } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), c.number);
      }
      EXPECT_EQ(plan->fired, 1);
      EXPECT_EQ(stored(database()), 0);
      write_message_rows(*db, rows);
      EXPECT_EQ(stored(database()), kRows);
      clear_messages(database());
    }
  }
}

// With a retry the call itself recovers: a transaction that the engine ended or aborted is
// run again from its start, never its remaining statements alone, so every call stores
// exactly the message's rows. The cases take turns over k.
TEST_P(MessageTransaction, ARetryRunsTheWholeMessageAgain) {
  retries_ = 1;
  const std::vector<FaultCase> all = cases();
  std::string counts;
  for (int k = 1; k <= calls_per_message(); ++k) {
    const FaultCase& c = all[static_cast<std::size_t>(k) % all.size()];
    SCOPED_TRACE(c.name + " at call " + std::to_string(k));
    auto plan = std::make_shared<FaultPlan>(FaultPlan{c.fault, k});
    auto db = faulty_db(c, plan);
    std::string raised;
    try {
      write_message_rows(*db, message_rows(db->SqlDialect(), k));
    } catch (const RuntimeError& e) {
      raised = " raised " + std::to_string(e.number());
    }
    EXPECT_EQ(plan->fired, 1);
    EXPECT_EQ(raised, "");
    const int n = stored(database());
    EXPECT_EQ(n, kRows);
    EXPECT_EQ(stored(database(), " WHERE [transaction] = " + std::to_string(k)), n);
    counts += " k" + std::to_string(k) + ":" + std::to_string(n) + raised;
    clear_messages(database());
  }
  RecordProperty("rows_stored", counts);
}

// Runs of the message again count against the failing statement's budget: a failure that
// persists ends the call after DB_Retries + 1 attempts with nothing stored.
TEST_P(MessageTransaction, APersistentFailureUsesOneBudget) {
  retries_ = 1;
  auto plan = std::make_shared<FaultPlan>(FaultPlan{cases().front().fault, std::min(kRows / 2, calls_per_message()), true});
  auto db = faulty_db(cases().front(), plan);
  EXPECT_THROW(write_message_rows(*db, message_rows(db->SqlDialect(), 1)), RuntimeError);
  EXPECT_EQ(plan->fired, 2);
  EXPECT_EQ(stored(database()), 0);
  plan->armed = false;
  write_message_rows(*db, message_rows(db->SqlDialect(), 2));
  EXPECT_EQ(stored(database()), kRows);
}

}  // namespace
}  // namespace dexweb
