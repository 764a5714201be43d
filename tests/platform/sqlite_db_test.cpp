#include "platform/sqlite_db.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace dexweb::platform {
namespace {

using namespace std::chrono_literals;

TEST(SqliteDb, LockedWriterFailsAfterItsBusyWait) {
  test::TempDir dir;
  auto a = SqliteConnection::open(dir.file("a.db"), true);
  a.exec("PRAGMA journal_mode=WAL; CREATE TABLE t (x INTEGER)");
  auto b = SqliteConnection::open(dir.file("a.db"));
  b.set_busy_timeout(30ms);
  a.exec("BEGIN IMMEDIATE");
  try {
    b.exec("INSERT INTO t VALUES (1)");
    FAIL();
  } catch (const SqliteError& e) {
    EXPECT_EQ(e.code(), SQLITE_BUSY);
  }
  a.exec("COMMIT");
  b.exec("INSERT INTO t VALUES (1)");
  EXPECT_EQ(b.total_changes(), 1);
}

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

}  // namespace
}  // namespace dexweb::platform
