// The database object on real engines: values and bulk statements, the retry policy with
// the engine errors it counts as transient, the connection-string file, and the templates
// table.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "config/interface_settings.h"
#include "data/db_object.h"
#include "data/dialect.h"
#include "data/internal/db_errors.h"
#include "data/templates_table.h"
#include "data/test_databases.h"
#include "logging/error_policy.h"
#include "logging/reporter.h"
#include "platform/clock.h"
#include "platform/sqlite_db.h"
#include "support/temp_dir.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

using namespace std::chrono_literals;
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
  EXPECT_EQ(test::error_of([&] { rs->Field("no_such_column"); }).number(), 3265);
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

// ---- the retry policy ----

// Collects the data layer's log lines for one test.
struct LogLine {
  LogLevel level;
  std::string text;
};

class LogCapture {
 public:
  LogCapture() {
    set_db_log_observer([this](LogLevel level, std::string_view text) {
      lines.push_back({level, std::string(text)});
    });
  }
  ~LogCapture() { set_db_log_observer({}); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  int count_starting(const std::string& prefix) const {
    int n = 0;
    for (const auto& l : lines) n += l.text.rfind(prefix, 0) == 0;
    return n;
  }

  std::vector<LogLine> lines;
};

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
  LogCapture log_;
};

TEST_F(RetryPolicy, PersistentFailureIsTriedFourTimesThenRaised) {
  DBObject db(settings_);
  const RuntimeError e = test::error_of([&] { db.Execute(kBadQuery); });
  EXPECT_EQ(e.number(), 3075);
  EXPECT_EQ(e.description(), std::string("SQL logic error\r\nno such table: no_such_table\r\nSQL: ") + kBadQuery);
  EXPECT_EQ(e.source(), "SQLite");
  EXPECT_TRUE(e.is_final());
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
    const DatabaseError e = test::error_of<DatabaseError>(call);
    EXPECT_TRUE(e.is_final());
    return e.number();
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
  const RuntimeError e = test::error_of([&] { db.OpenDb(1); });
  EXPECT_EQ(e.number(), 3024);
  EXPECT_TRUE(e.description().starts_with("unable to open database file\r\n")) << e.description();
  EXPECT_TRUE(e.is_final());
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
  LogCapture log;
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

// ---- the connection-string file ----

class ConnectionFile : public ::testing::Test {
 protected:
  void SetUp() override { reset_process_state(); }
  ServerConnection read(const std::string& text) {
    test::write_text(dir_.file("c.txt"), text);
    return read_connection_file(dir_.file("c.txt"), settings_);
  }
  test::TempDir dir_;
  DatabaseSettings settings_;
};

// The module's keys are taken out, comments and blank lines dropped, the clauses passed
// through (CR LF or LF line ends; the driver's clauses each end with a semicolon), the
// isolation level known or the default, and encoded credentials are the last clauses.
TEST_F(ConnectionFile, ModuleKeysAreTakenOutAndClausesPassThrough) {
  struct Case {
    const char *text, *connection_string, *driver_clauses, *isolation_level;
  };
  for (const Case& c :
       {Case{"# site database\r\nDriver={ODBC Driver 18 for SQL Server};\r\n#vtdbretries=9;\r\n"
             "vtSqlIsolation=serializable\r\nServer=db1;\r\n  Database=velotrax;  \r\n",
             "Driver={ODBC Driver 18 for SQL Server};\r\nServer=db1;\r\nDatabase=velotrax;\r\n",
             "Driver={ODBC Driver 18 for SQL Server};Server=db1;Database=velotrax;", "SERIALIZABLE"},
        Case{"Driver=x\n\n  \nServer=y;\nvtsqlisolation=chaos\n", "Driver=x\r\nServer=y;\r\n", "Driver=x;Server=y;",
             "READ COMMITTED"},
        // "ab" stored: groups in reverse order, each the bit-reversed code ('b' 98 -> 70, 'a' 97 -> 134).
        Case{"vtencryptedpwd=070134;\r\nvtencrypteduid=070134\r\nServer=s;\r\n", "Server=s;\r\nUID=ab;\r\nPWD=ab;\r\n",
             "Server=s;UID=ab;PWD=ab;", "READ COMMITTED"}}) {
    settings_ = DatabaseSettings{};
    const ServerConnection read_back = read(c.text);
    EXPECT_EQ(read_back.connection_string, c.connection_string) << c.text;
    EXPECT_EQ(read_back.driver_clauses, c.driver_clauses) << c.text;
    EXPECT_EQ(settings_.isolation_level, c.isolation_level) << c.text;
    EXPECT_EQ(settings_.retries, 3) << c.text;
  }
}

TEST_F(ConnectionFile, RegistryWinsOverTheFile) {
  RegistrySettings registry;
  registry.DB_Long_Timeout = 45;
  registry.DB_Long_Timeout_Set = true;
  settings_ = database_settings(registry);
  const DatabaseSettings& r = settings_;
  read("vtdbretries=5;\r\nvtdbshorttimeout=2.6\r\nvtdbmediumtimeout=abc\r\nvtdblongtimeout=90\r\n");
  EXPECT_EQ(r.retries, 5);
  EXPECT_EQ(r.short_timeout, 3);
  EXPECT_EQ(r.medium_timeout, 0);
  EXPECT_EQ(r.long_timeout, 45);
  // Beyond 32 bits a number counts as none, as in the registry (it wrapped to a negative).
  read("vtdbretries=12345678901234567890;\r\nvtdbshorttimeout=4294967297\r\n");
  EXPECT_EQ(r.retries, 0);
  EXPECT_EQ(r.short_timeout, 0);
}

// ---- the templates table: SQL Server's SELECT as sent, and the rows read from a real database ----

TEST(TemplatesQuery, SqlServerTextAsSent) {
  EXPECT_EQ(templates_query(dialect_for(DatabaseKind::SqlServer), "dexweb"),
            "SELECT [type], [name], [settings], [subject], [body] FROM [templates] WITH (NOLOCK)"
            " WHERE ( (([type] = 10 ) AND ([name] = 'dexweb' )) OR (([type] = 0 ) AND ([name] = 'global' )) )");
}

class TemplatesTable : public EngineTest {
 protected:
  void add_row(int type, const std::string& name, const std::string& settings, const std::string& subject = "NULL",
               const std::string& body = "NULL") {
    database().exec("INSERT INTO templates (type, name, settings, subject, body) VALUES (" + std::to_string(type) +
                    ", '" + name + "', " + settings + ", " + subject + ", " + body + ")");
  }
  bool set(const InterfaceSettings& s, std::string_view key) { return s.is_set(*find_setting(key)); }
};
DEXWEB_INSTANTIATE_ENGINES(TemplatesTable);

// Names in any case are the interface row and the global row; of several rows the last
// wins whole, and a missing row leaves the defaults.
TEST_P(TemplatesTable, ReadsOnlyTheInterfaceRowAndTheGlobalRow) {
  add_row(10, "global", "'from=wrong type'");
  add_row(0, "dexweb", "'from=wrong name'");
  add_row(10, "dexmail", "'from=other interface'");
  add_row(3, "dexweb", "'from=other type'");
  add_row(10, "DexWeb", "'interfacefilter=/f/web.txt\r\nusefilterdll=TRUE'", "'S'", "''");
  add_row(0, "global", "'to=replaced by the next row'");
  add_row(0, "GLOBAL", "NULL", "NULL", "'%Message%'");
  DBObject db(database().settings());
  InterfaceSettings own, global;
  load_templates(kDexWebInterface, db, own, global);
  EXPECT_TRUE(own.has_content());
  EXPECT_EQ(std::get<std::string>(own.value(*find_setting("interfacefilter"))), "/f/web.txt");
  EXPECT_TRUE(own.value(settings_key::kUseFilterDll));
  EXPECT_FALSE(set(own, "from"));
  EXPECT_EQ(own.subject().text, "S");
  EXPECT_FALSE(own.body().set);
  EXPECT_TRUE(global.has_content());
  EXPECT_FALSE(set(global, "from"));
  EXPECT_FALSE(set(global, "to"));
  EXPECT_EQ(global.body().text, "%Message%");

  database().exec("DELETE FROM templates WHERE type = 10");
  load_templates(kDexWebInterface, db, own, global);
  EXPECT_FALSE(own.has_content());
}

TEST_P(TemplatesTable, EffectiveSettingsLayTheInterfaceRowOverTheGlobalRow) {
  add_row(0, "global", "'interfacefilter=/f/global.txt\r\nrawinterfacefilter=/f/raw.txt\r\nusefilterdll=true'");
  add_row(10, "dexweb", "'interfacefilter=\r\nusefilterdllfile=true'");
  DBObject db(database().settings());
  InterfaceSettings effective = effective_interface_settings(db);
  EXPECT_TRUE(effective.is_set(settings_key::kInterfaceFilter));
  EXPECT_EQ(effective.value(settings_key::kInterfaceFilter), "");
  EXPECT_EQ(effective.value(settings_key::kRawInterfaceFilter), "/f/raw.txt");
  EXPECT_TRUE(effective.value(settings_key::kUseFilterDll));
  EXPECT_TRUE(effective.value(settings_key::kUseFilterDllFile));
  EXPECT_FALSE(effective.is_set(settings_key::kInterfaceFilterDebugFile));
}

}  // namespace
}  // namespace dexweb
