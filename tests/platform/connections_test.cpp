// What the engines' connections report that the layers above rely on: the SQLite statement
// time-out, and the states of server failures that the error numbers are made from.
#include <sqlite3.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include "platform/odbc.h"
#include "platform/sqlite_db.h"
#include "support/temp_dir.h"

namespace dexweb::platform {
namespace {

using namespace std::chrono_literals;

TEST(SqliteDb, LongStatementIsInterruptedAtItsTimeout) {
  test::TempDir dir;
  auto db = SqliteConnection::open(dir.file("a.db"), true);
  db.set_statement_timeout(50ms);
  try {
    db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT count(*) FROM n");
    FAIL();
  } catch (const SqliteError& e) {
    EXPECT_EQ(e.code(), SQLITE_INTERRUPT);
  }
  db.set_statement_timeout(0ms);
  db.exec("SELECT 1");
}

TEST(OdbcServer, FailuresCarrySqlStates) {
  const char* clauses = ::getenv("DEXWEB_TEST_PG_ODBC");
  if (!clauses) GTEST_SKIP() << "DEXWEB_TEST_PG_ODBC is not set";
  OdbcEnvironment env;
  OdbcConnection connection(env);
  connection.connect(clauses);
  try {
    connection.statement().execute("SELECT * FROM no_such_table");
    FAIL();
  } catch (const OdbcError& e) {
    EXPECT_EQ(e.records().front().state, "42P01");
  }
  OdbcConnection other(env);
  try {
    other.connect(std::string(clauses) + "Port=1;");
    FAIL();
  } catch (const OdbcError& e) {
    EXPECT_EQ(e.records().front().state.substr(0, 2), "08");
  }
}

}  // namespace
}  // namespace dexweb::platform
