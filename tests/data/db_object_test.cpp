#include "data/db_object.h"

#include <gtest/gtest.h>

#include "data/engine_fixture.h"
#include "data/query_object.h"
#include "data/sql_literals.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

using test::EngineTest;

class DbObjectEngines : public EngineTest {};
DEXWEB_INSTANTIATE_ENGINES(DbObjectEngines);

std::string long_text() {
  std::string s;
  while (s.size() < 16000) s += "0123456789abcdef";
  return s.substr(0, 16000);
}

// The 28 columns of a message row, as the intake writes them.
void add_message_fields(QueryObject& q, const Dialect& dialect, const std::string& message, DateTime last_try) {
  q.Clear();
  q.SetQueryType(QueryObject::kInsert);
  q.SetTableName("messages");
  q.Add("user", std::string("o'brien"));
  q.Add("pin", std::string(""));
  q.Add("message", message);
  q.Add("carrier", std::string(""));
  q.Add("date_time_requested", db_now(dialect), 1);
  q.Add("date_time_sent", db_now(dialect), 1);
  q.Add("scheduled", false);
  q.Add("sent", false);
  q.Add("ascii_file", std::string(""));
  q.Add("mail_file", std::string(""));
  q.Add("frm", std::string("Zo\xc3\xab \"Z\" <z@example.org>"));
  q.Add("error", false);
  q.Add("lock", true);
  q.Add("surecast_index", std::int16_t{0});
  q.Add("repeat_interval", std::int16_t{0});
  q.Add("repeat_stop", db_now(dialect), 1);
  q.Add("station", std::int16_t{4});
  q.Add("retries", std::int16_t{0});
  q.Add("last_try", last_try);
  q.Add("transaction", std::int32_t{123456789});
  q.Add("creator_name", std::string("DexWeb"));
  q.Add("creator_machine", std::string("gateway-1"));
  q.Add("original_recipient", std::string("o'brien"));
  q.Add("last_recipient", std::string("o'brien"));
  q.Add("server", std::string(""));
  q.Add("archived", false);
  q.Add("priority", std::int16_t{0});
  q.Add("dialer", std::int16_t{0});
}

TEST_P(DbObjectEngines, MessageRowReadsBackEqual) {
  const std::vector<std::string> texts = {
      "It's a \"quoted\" 'text'; -- not a comment [not a name]",
      "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x93\x9f pager",
      long_text()};
  DBObject db(database().settings());
  db.OpenDb(1);
  QueryObject q;
  const DateTime last_try = make_datetime(2026, 12, 4, 19, 13, 18);
  for (const auto& text : texts) {
    add_message_fields(q, db.SqlDialect(), text, last_try);
    db.Execute(q.Build(db.SqlDialect()));
  }
  auto rs = db.OpenRecordset("SELECT * FROM [messages]" + db.SqlDialect().table_hint() + " ORDER BY [record_id]");
  for (const auto& text : texts) {
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(rs->AsText("message"), text);
    EXPECT_EQ(rs->AsText("user"), "o'brien");
    EXPECT_EQ(rs->AsText("frm"), "Zo\xc3\xab \"Z\" <z@example.org>");
    EXPECT_FALSE(rs->AsBool("scheduled"));
    EXPECT_TRUE(rs->AsBool("lock"));
    EXPECT_EQ(rs->AsLong("station"), 4);
    EXPECT_EQ(rs->AsLong("transaction"), 123456789);
    EXPECT_EQ(rs->AsDate("last_try"), last_try);
    EXPECT_FALSE(rs->IsNull("date_time_requested"));
    EXPECT_TRUE(rs->IsNull("surecast_index") == false);
    rs->MoveNext();
  }
  EXPECT_TRUE(rs->Eof());
  EXPECT_FALSE(db.Failed());
}

TEST_P(DbObjectEngines, NullsAndUnknownColumns) {
  DBObject db(database().settings());
  db.Execute("INSERT INTO [users] ([user], [web_service]) VALUES ( 'amy' , " +
             std::string(GetParam() == "sqlite" ? "True" : "TRUE") + ")");
  auto rs = db.OpenRecordset("SELECT [user], [full_name], [web_service] FROM [users]");
  ASSERT_FALSE(rs->Eof());
  EXPECT_TRUE(rs->IsNull("FULL_NAME"));
  EXPECT_EQ(rs->AsText("full_name"), "");
  EXPECT_TRUE(rs->AsBool("web_service"));
  try {
    rs->Field("no_such_column");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 3265);
  }
}

TEST_P(DbObjectEngines, ExecuteRaCountsRowsAndBlankStatementsDoNothing) {
  DBObject db(database().settings());
  db.Execute("INSERT INTO [users] ([user]) VALUES ('a')");
  db.Execute("INSERT INTO [users] ([user]) VALUES ('b')");
  EXPECT_EQ(db.ExecuteRA("UPDATE [users] SET [full_name] = 'x'"), 2);
  EXPECT_EQ(db.ExecuteRA("DELETE FROM [users] WHERE [user] = 'nobody'"), 0);
  EXPECT_EQ(db.ExecuteRA(" \t\r\n"), 0);
  db.Execute("   ");
}

TEST_P(DbObjectEngines, OpenDbPublishesTheKind) {
  DBObject db(database().settings());
  EXPECT_FALSE(db.IsOpen());
  EXPECT_TRUE(db.OpenDb(1));
  EXPECT_TRUE(db.IsOpen());
  EXPECT_TRUE(db.OpenDb(1));
  EXPECT_EQ(db.SqlDialect().table_hint(), "");
  if (GetParam() == "sqlite") {
    EXPECT_FALSE(db.UsesServer());
    EXPECT_NE(db.GetDb(), nullptr);
    EXPECT_GE(db.LockDelayMs(), 25);
    EXPECT_LE(db.LockDelayMs(), 74);
    EXPECT_EQ(db.LockRetries(), 1000 / db.LockDelayMs());
  } else {
    EXPECT_TRUE(db.UsesServer());
    EXPECT_EQ(db.SqlDialect().kind(), DatabaseKind::PostgreSql);
    EXPECT_EQ(db.GetDb(), nullptr);
    EXPECT_NE(db.ConnectionString().find("ConnSettings="), std::string::npos);
  }
  db.CloseDb();
  EXPECT_FALSE(db.IsOpen());
}

TEST_P(DbObjectEngines, BulkExecuteInOneTransaction) {
  DBObject db(database().settings());
  NVPList list;
  for (int i = 0; i < 120; ++i) list.Add("INSERT INTO [users] ([user]) VALUES ('u" + std::to_string(i) + "')  ");
  db.BulkExecute(list, false, -1, false, false, true);
  EXPECT_EQ(db.OpenRecordset("SELECT COUNT(*) AS n FROM [users]")->AsLong("n"), 120);

  // A failure that ends the call leaves nothing of its transaction behind.
  NVPList failing;
  failing.Add("INSERT INTO [users] ([user]) VALUES ('kept?')");
  failing.Add("INSERT INTO [no_such_table] ([x]) VALUES (1)");
  EXPECT_THROW(db.BulkExecute(failing, true, -1, false, false, true), RuntimeError);
  db.Execute("INSERT INTO [users] ([user]) VALUES ('after')");
  DBObject other(database().settings());
  EXPECT_EQ(other.OpenRecordset("SELECT COUNT(*) AS n FROM [users]")->AsLong("n"), 121);
}

// The same texts run again and again (their prepared statements kept between runs) still
// see what another connection committed since, and a failed run leaves nothing stuck.
TEST_P(DbObjectEngines, RepeatedStatementsSeeOtherConnectionsCommits) {
  DBObject db(database().settings());
  DBObject other(database().settings());
  const std::string count = "SELECT COUNT(*) AS n FROM [users]";
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(db.OpenRecordset(count)->AsLong("n"), i);
    other.Execute("INSERT INTO [users] ([user]) VALUES ('u" + std::to_string(i) + "')");
  }
  // Quiet: one attempt, failing in its step (NOT NULL), not in its parse.
  for (int i = 0; i < 3; ++i) db.Execute("INSERT INTO [users] ([user]) VALUES (NULL)", 0);
  db.Execute("INSERT INTO [users] ([user]) VALUES ('last')");
  EXPECT_EQ(other.OpenRecordset(count)->AsLong("n"), 5);
  EXPECT_EQ(db.OpenRecordset(count)->AsLong("n"), 5);
}

TEST(DbObject, UpdateDbPasswordIsNotSupported) {
  auto database = test::make_sqlite_database();
  DBObject db(database->settings());
  try {
    db.UpdateDbPassword("secret");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 3251);
  }
}

}  // namespace
}  // namespace dexweb
