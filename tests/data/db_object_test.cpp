#include "data/db_object.h"

#include <gtest/gtest.h>

#include "data/engine_fixture.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

using test::EngineTest;

class DbObjectEngines : public EngineTest {};
DEXWEB_INSTANTIATE_ENGINES(DbObjectEngines);

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

TEST_P(DbObjectEngines, BulkExecuteInOneTransaction) {
  DBObject db(database().settings());
  NVPList list;
  for (int i = 0; i < 120; ++i) list.Add("INSERT INTO [users] ([user]) VALUES ('u" + std::to_string(i) + "')  ");
  db.BulkExecute(list, {.use_transaction = true});
  EXPECT_EQ(db.OpenRecordset("SELECT COUNT(*) AS n FROM [users]")->AsLong("n"), 120);

  // A failure that ends the call leaves nothing of its transaction behind.
  NVPList failing;
  failing.Add("INSERT INTO [users] ([user]) VALUES ('kept?')");
  failing.Add("INSERT INTO [no_such_table] ([x]) VALUES (1)");
  EXPECT_THROW(db.BulkExecute(failing, {.fail_on_first_error = true, .use_transaction = true}), RuntimeError);
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
  for (int i = 0; i < 3; ++i) db.Execute("INSERT INTO [users] ([user]) VALUES (NULL)", {.timeout = 0});
  db.Execute("INSERT INTO [users] ([user]) VALUES ('last')");
  EXPECT_EQ(other.OpenRecordset(count)->AsLong("n"), 5);
  EXPECT_EQ(db.OpenRecordset(count)->AsLong("n"), 5);
}

}  // namespace
}  // namespace dexweb
