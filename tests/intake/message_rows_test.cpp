// The 28 columns of a message row, and the one transaction per message, on every engine; texts
// that quoting, encodings and length could spoil read back as written.
#include <gtest/gtest.h>

#include "data/engine_fixture.h"
#include "intake/intake_harness.h"
#include "intake/message_rows.h"
#include "logging/error_policy.h"
#include "platform/clock.h"

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

}  // namespace
}  // namespace dexweb::test
