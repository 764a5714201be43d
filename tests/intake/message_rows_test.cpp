// The 28 columns of a message row and the one transaction per message, on every engine:
// texts that quoting, encodings and length could spoil read back as written, and a
// message's rows are stored all or none, whatever statement fails and however the engine
// fails it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "data/db_object.h"
#include "data/fault_engine.h"
#include "data/sql_text.h"
#include "data/test_databases.h"
#include "intake/intake_harness.h"
#include "intake/message_rows.h"
#include "logging/error_policy.h"
#include "platform/clock.h"
#include "util/runtime_error.h"

namespace dexweb::test {
namespace {

class MessageRows : public IntakeEngineTest {};
DEXWEB_INSTANTIATE_ENGINES(MessageRows);

// The time columns: server_now on the embedded database, the server's clock on a server.
void expect_now(const Recordset& rs, const char* column, DateTime server_now, bool on_server) {
  const DateTime value = rs.AsDate(column);
  if (!on_server) {
    EXPECT_EQ(format_datetime(value), format_datetime(server_now)) << column;
  } else {
    const auto real_now = platform::to_local(platform::SystemClock().now());
    EXPECT_LT(std::chrono::abs(value - real_now), std::chrono::minutes(2)) << column;
  }
}

TEST_P(MessageRows, EveryColumnOfAnAccountAndAnAdHocRow) {
  IntakeHarness& h = *harness;
  h.add_user("sales");
  h.add_user("adhoc", {.ad_hoc = true});
  const std::string message = "It's a \"quoted\" 'text'; -- not a comment [not a name] C:\\dir\\ ? $1 :x\r\nGr\xc3\xbc\xc3\x9f"
                           "e \xe2\x82\xac \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x93\x9f pager " + std::string(15900, 'x');
  const std::string sender = "Zo\xc3\xab O'Brien \"Z\" <z@example.org>";
  h.write_web_file("a.msg", "user=sales\r\nfrm=" + sender + "\r\nmsg=" + message + "\r\n", 10);
  h.write_web_file("b.msg", "user=adhoc\r\nfrm=Pat\r\nsubject=123\r\nmsg=pin\r\n", 5);
  // Several rows of one message: on PostgreSQL what differs between them travels as arrays,
  // whose literal must keep every text as it is.
  const std::vector<std::string> odd_pins = {"NULL", "{a}", "\"q\"\\", "\\\\x", "\xf0\x9f\x93\x9f\xc3\xbc", "''", "()"};
  h.write_web_file("c.msg", "user=adhoc\r\nfrm=Pat\r\nsubject=NULL {a},\"q\"\\;\\\\x \xf0\x9f\x93\x9f\xc3\xbc '' ()\r\nmsg=pins\r\n",
                   1);
  h.poll();
  const DateTime now = platform::server_now();

  auto rs = h.db.OpenRecordset("SELECT * FROM [messages]" + h.db.SqlDialect().table_hint() + " ORDER BY [record_id]");
  std::vector<std::string> users, pins, recipients;
  std::vector<int> transactions;
  for (; !rs->Eof(); rs->MoveNext()) {
    users.push_back(rs->AsText("user"));
    pins.push_back(rs->AsText("pin"));
    recipients.push_back(rs->AsText("original_recipient"));
    transactions.push_back(rs->AsLong("transaction"));
    EXPECT_EQ(rs->AsText("last_recipient"), recipients.back());
    for (const char* text : {"carrier", "ascii_file", "mail_file", "server"}) EXPECT_EQ(rs->AsText(text), "") << text;
    for (const char* flag : {"scheduled", "sent", "error", "lock", "archived"}) EXPECT_FALSE(rs->AsBool(flag)) << flag;
    for (const char* zero : {"surecast_index", "repeat_interval", "retries", "priority", "dialer"})
      EXPECT_EQ(rs->AsLong(zero), 0) << zero;
    EXPECT_EQ(rs->AsLong("station"), 4);
    for (const char* time : {"date_time_requested", "date_time_sent", "repeat_stop"})
      expect_now(*rs, time, now, h.db.UsesServer());
    EXPECT_EQ(format_datetime(rs->AsDate("last_try")), format_datetime(now - std::chrono::seconds(61)));
    EXPECT_EQ(rs->AsText("creator_name"), "DexWeb");
    EXPECT_EQ(rs->AsText("creator_machine"), IntakeHarness::kMachine);
    if (users.size() == 1) {
      EXPECT_EQ(rs->AsText("message"), message);
      EXPECT_EQ(rs->AsText("frm"), sender);
    }
  }
  std::vector<std::string> want_pins = {"", "123"}, want_recipients = {"sales", "adhoc-123"};
  for (const std::string& pin : odd_pins) {
    want_pins.push_back(pin);
    want_recipients.push_back("adhoc-" + pin);
  }
  EXPECT_EQ(users, (std::vector<std::string>{"sales", "adhoc", "adhoc", "adhoc", "adhoc", "adhoc", "adhoc", "adhoc", "adhoc"}));
  EXPECT_EQ(pins, want_pins);
  EXPECT_EQ(recipients, want_recipients);
  // One id per message from the shared counter, which stands at the last one handed out.
  EXPECT_EQ(transactions, (std::vector<int>{1, 2, 3, 3, 3, 3, 3, 3, 3}));
  EXPECT_EQ(h.database->counter(), 3);
}

// A message's id, its rows and its record are one transaction on a server too: the rows,
// the record and the counters row carry the id of the transaction that wrote them.
TEST_P(MessageRows, AMessageIsOneTransactionWithItsId) {
  IntakeHarness& h = *harness;
  if (GetParam() == "sqlite") GTEST_SKIP() << "server transactions only";
  for (const char* name : {"sales", "bob", "amy"}) h.add_user(name);
  h.write_message("b.msg", "sales", "bob amy", "hi");
  EXPECT_TRUE(h.poll());
  auto rs = h.db.OpenRecordset(
      "SELECT COUNT(DISTINCT x) AS n FROM (SELECT xmin::text AS x FROM messages WHERE message = 'hi' "
      "UNION ALL SELECT xmin::text FROM counters UNION ALL SELECT xmin::text FROM worked_files) AS t");
  EXPECT_EQ(rs->AsLong("n"), 1);
  EXPECT_EQ(h.rows().size(), 3u);
  EXPECT_EQ(h.database->counter(), 1);
}

// The shared counter wraps from 2000000000 to 1; without a counters row a message's id is 0.
TEST_P(MessageRows, TheIdWrapsAt2000000000AndIsZeroWithoutACountersRow) {
  IntakeHarness& h = *harness;
  h.add_user("sales");
  h.database->set_counter(1999999999);
  std::vector<int> ids;
  for (const char* name : {"a.msg", "b.msg", "c.msg"}) {
    if (ids.size() == 2) h.database->exec("DELETE FROM counters");
    h.write_message(name, "sales", "", name);
    EXPECT_TRUE(h.poll());
    ids.push_back(h.rows().back().transaction);
  }
  EXPECT_EQ(ids, (std::vector<int>{2000000000, 1, 0}));
}

// A message whose rows cannot all be written leaves nothing behind and stays in the folder,
// so that working it again pages nobody twice.
TEST_F(IntakeTest, AFailureBetweenTheRowsOfAMessageLeavesNoRowAndKeepsTheFile) {
  for (const char* name : {"sales", "bob", "amy"}) h.add_user(name);
  h.database->exec(
      "CREATE TRIGGER refuse_amy BEFORE INSERT ON messages WHEN NEW.user = 'amy' "
      "BEGIN SELECT RAISE(ABORT, 'amy refused'); END");
  h.write_message("a.msg", "sales", "bob amy", "hi");
  // The error routine halts the module on a database error that its retries did not cure.
  EXPECT_THROW(h.poll(), ModuleHalted);
  EXPECT_TRUE(h.rows().empty());
  EXPECT_EQ(h.claimed_files().size(), 1u);

  // The next run takes the halted run's claim over and works the file from the start.
  h.database->exec("DROP TRIGGER refuse_amy");
  h.restart();
  EXPECT_TRUE(h.poll());
  ASSERT_EQ(h.rows().size(), 3u);
  EXPECT_EQ(h.rows()[2].user, "amy");
  EXPECT_TRUE(h.web_files().empty());
  EXPECT_TRUE(h.claimed_files().empty());
}

// ---- all rows or none ----

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
int stored(const TestDatabase& database, std::string_view where = "") {
  DBObject other(database.settings());
  auto rs = other.OpenRecordset("SELECT COUNT(*) AS n FROM [messages]" + other.SqlDialect().table_hint() + std::string(where));
  return rs->AsLong("n");
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

class MessageTransaction : public EngineTest {
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
      if (clauses_.empty()) clauses_ = read_text(file);
      write_text(file, clauses_ + "Protocol=7.4-" + std::to_string(c.driver_rollback) + ";\r\n");
    }
    DatabaseSettings settings = database().settings();
    settings.retries = retries_;
    auto db = std::make_unique<DBObject>(std::move(settings));
    db->OpenDb(1);
    decorate_engines<FaultEngine>(*db, plan);
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
      EXPECT_EQ(error_of([&] { write_message_rows(*db, rows); }).number(), c.number);
      EXPECT_EQ(plan->fired, 1);
      EXPECT_EQ(stored(database()), 0);
      write_message_rows(*db, rows);
      EXPECT_EQ(stored(database()), kRows);
      database().exec("DELETE FROM messages");
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
    database().exec("DELETE FROM messages");
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
}  // namespace dexweb::test
