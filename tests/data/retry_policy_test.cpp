// DBObject's retry policy, driven by statements that really fail on a real engine, and the
// engine errors it counts as transient.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "data/db_object.h"
#include "data/engine_fixture.h"
#include "data/internal/db_errors.h"
#include "data/log_capture.h"
#include "logging/error_policy.h"
#include "platform/clock.h"
#include "platform/sqlite_db.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

using namespace std::chrono_literals;

constexpr const char* kBadQuery = "SELECT [x] FROM [no_such_table]";

class RetryPolicy : public ::testing::Test {
 protected:
  void SetUp() override {
    database_ = test::make_sqlite_database();
    settings_ = database_->settings();
    settings_.retries = 3;
    settings_.medium_timeout = 5;
  }
  double elapsed() const { return std::chrono::duration<double>(clock_.now() - start_).count(); }

  std::unique_ptr<test::TestDatabase> database_;
  DatabaseSettings settings_;
  platform::TimePoint start_ = std::chrono::system_clock::now();
  platform::ManualClock clock_{start_};
  platform::ScopedClock scoped_{clock_};
  test::LogCapture log_;
};

TEST_F(RetryPolicy, PersistentFailureIsTriedFourTimesThenRaised) {
  DBObject db(settings_);
  try {
    db.Execute(kBadQuery);
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 3075);
    EXPECT_EQ(e.description(), std::string("SQL logic error\r\nno such table: no_such_table\r\nSQL: ") + kBadQuery);
    EXPECT_EQ(e.source(), "SQLite");
    EXPECT_TRUE(e.is_final());
  }
  // No warning after the first failure; one before the third and one before the fourth.
  EXPECT_EQ(log_.count_starting("Warning - DbObject.Execute: 3075 SQL logic error - Retrying..."), 2);
  EXPECT_EQ(log_.count_starting("DAO: no such table: no_such_table"), 2);
  EXPECT_EQ(log_.count_starting("SQL: SELECT"), 2);
  for (const auto& line : log_.lines)
    EXPECT_EQ(line.level, line.text.starts_with("Warning") ? LogLevel::Detail : LogLevel::Debug) << line.text;
  // One short first wait (0.5 to 1 s) and two medium ones (5 to 6 s each).
  EXPECT_GE(elapsed(), 10.5);
  EXPECT_LT(elapsed(), 13.0);
}

// Only a failure that time may cure is passed over with the "ok to continue" line: a lock
// is; a missing table is raised; a damaged database is raised, also by a quiet call.
TEST_F(RetryPolicy, IgnoreFailurePassesOverOnlyWhatTimeMayCure) {
  database_->exec("INSERT INTO [users] ([user], [full_name]) VALUES ('amy', '" + std::string(3000, 'a') + "')");
  DBObject db(settings_);
  ErrorPolicy policy;
  db.SetErrorPolicy(&policy);
  db.OpenDb(1);
  db.SetLockRetry(1);
  auto holder = platform::SqliteConnection::open(database_->dir() + "velotrax.db");
  holder.exec("BEGIN IMMEDIATE");
  EXPECT_FALSE(db.Execute("INSERT INTO [users] ([user]) VALUES ('late')", {.ignore_failure = true}));
  EXPECT_EQ(log_.count_starting("DB Execute retries failed, but ok to continue."), 1);
  // The owner's error routine halts at its next error.
  EXPECT_EQ(policy.retry_count(), 100);
  holder.exec("ROLLBACK");

  auto raised = [&](auto&& call) {
    try {
      call();
    } catch (const DatabaseError& e) {
      EXPECT_TRUE(e.is_final());
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(raised([&] { db.OpenRecordset(kBadQuery, {.ignore_failure = true}); }), 3075);

  // The users table's page overwritten in the file.
  db.CloseDb();
  holder.exec("PRAGMA wal_checkpoint(TRUNCATE)");
  auto page = holder.prepare("SELECT [rootpage] FROM [sqlite_master] WHERE [name] = 'users'");
  ASSERT_TRUE(page.step());
  {
    std::fstream file(database_->dir() + "velotrax.db", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp((page.column_int(0) - 1) * 4096);
    file << std::string(4096, 'U');
  }
  EXPECT_EQ(raised([&] { db.OpenRecordset("SELECT * FROM [users]", {.ignore_failure = true}); }), 3049);
  EXPECT_EQ(raised([&] { db.Execute("DELETE FROM [users]", {.timeout = 0}); }), 3049);
  EXPECT_THROW(db.Execute("DELETE FROM [users]", {.timeout = 0}), DatabaseDamaged);
  EXPECT_EQ(log_.count_starting("DB open recordset retries failed, but ok to continue."), 0);
}

TEST_F(RetryPolicy, TimeoutZeroIsOneQuietAttempt) {
  DBObject db(settings_);
  db.OpenDb(1);
  auto before = clock_.now();
  EXPECT_FALSE(db.Execute(kBadQuery, {.timeout = 0}));
  NVPList list;
  list.Add(kBadQuery);
  EXPECT_FALSE(db.BulkExecute(list, {.timeout = 0}));
  EXPECT_TRUE(log_.lines.empty());
  EXPECT_EQ(clock_.now(), before);
}

// Another connection holds the write lock until it lets go during the retry waits.
TEST_F(RetryPolicy, SuccessAfterRetriesIsLogged) {
  DBObject db(settings_);
  db.OpenDb(1);
  db.SetLockRetry(1);
  auto holder = platform::SqliteConnection::open(database_->dir() + "velotrax.db");
  holder.exec("BEGIN IMMEDIATE");
  clock_.at(1500ms, [&] { holder.exec("COMMIT"); });
  EXPECT_TRUE(db.Execute("INSERT INTO [users] ([user]) VALUES ('late')"));
  EXPECT_EQ(log_.count_starting("Warning - DbObject.Execute: 3260 database is locked - Retrying..."), 1);
  EXPECT_EQ(log_.count_starting("DB execute retry succeeded"), 1);
}

TEST_F(RetryPolicy, OpenFailsAfterItsRetriesWithTheEngineText) {
  settings_.db_dir = database_->dir() + "missing/";
  DBObject db(settings_);
  try {
    db.OpenDb(1);
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 3024);
    EXPECT_TRUE(e.description().starts_with("unable to open database file\r\n")) << e.description();
    EXPECT_TRUE(e.is_final());
  }
  EXPECT_FALSE(db.IsOpen());
  EXPECT_EQ(log_.count_starting("Warning - DbObject.OpenDb: 3024 unable to open database file - Retrying..."), 1);
  EXPECT_EQ(log_.count_starting("DAO: unable to open database file"), 1);
  EXPECT_GE(elapsed(), 2.0);  // one wait of DB_Short_Timeout + [0,1)
  EXPECT_LT(elapsed(), 3.0);
}

// On a server a persistent failure reconnects before the fourth attempt; here the failure
// is a setting of the old session, so the new session succeeds.
TEST(RetryPolicyServer, ReconnectsBeforeTheFourthAttempt) {
  auto database = test::make_postgresql_database();
  if (!database) GTEST_SKIP() << "DEXWEB_TEST_PG_ODBC is not set";
  DatabaseSettings settings = database->settings();
  settings.retries = 3;
  platform::ManualClock clock{std::chrono::system_clock::now()};
  platform::ScopedClock scoped{clock};
  test::LogCapture log;
  DBObject db(settings);
  db.Execute("SET default_transaction_read_only = on");
  db.Execute("INSERT INTO [users] ([user]) VALUES ('written')");
  EXPECT_EQ(log.count_starting("Warning - DbObject.Execute:"), 2);
  EXPECT_EQ(log.count_starting("DB execute retry succeeded"), 1);
  EXPECT_EQ(db.OpenRecordset("SELECT [user] FROM [users]")->AsText("user"), "written");
}

TEST(ErrorNumbers, TransientFailuresAndOnlyThoseAreRetryable) {
  std::set<std::string_view> keys;
  for (const ErrorMapping& m : error_mappings()) {
    EXPECT_GE(m.number, 3000) << m.key;
    EXPECT_LT(m.number, 3800) << m.key;
    EXPECT_EQ(is_retryable_db_error(m.number), m.transient) << m.key;
    EXPECT_TRUE(keys.insert(m.key).second) << "twice: " << m.key;
  }
  // Every SQLite primary result code has its own entry.
  for (int code = 1; code <= 28; ++code)
    EXPECT_TRUE(keys.count("sqlite:" + std::to_string(code))) << code;
  // A damaged database and a missing grant, as each engine says them.
  constexpr int kCorrupt = 11, kCorruptIndex = 779, kNotADatabase = 26;
  for (int number : {sqlite_error_number(kCorrupt, kCorruptIndex), sqlite_error_number(kNotADatabase, kNotADatabase),
                     sqlstate_error_number("XX001"), sqlstate_error_number("XX002"), sqlstate_error_number("HY000", 824),
                     sqlstate_error_number("42000", 605)})
    EXPECT_TRUE(is_damaged_database_error(number)) << number;
  EXPECT_EQ(sqlstate_error_number("42501"), err::kDbNoPermission);
  EXPECT_EQ(sqlstate_error_number("42000", 229), err::kDbNoPermission);
  EXPECT_EQ(sqlstate_error_number("42000", 7), 3075);  // a driver's own small numbers say nothing
}

}  // namespace
}  // namespace dexweb
