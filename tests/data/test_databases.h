#pragma once
// Real databases for the tests: a SQLite file in a temporary DB_Dir, and a PostgreSQL schema
// of its own (reached over psqlODBC through a connection-string file in a temporary DB_Dir)
// when DEXWEB_TEST_PG_ODBC names a test server; and a fixture that runs a test once per
// engine.

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "data/db_object.h"
#include "logging/reporter.h"
#include "platform/odbc.h"
#include "platform/sqlite_db.h"
#include "support/temp_dir.h"
#include "util/runtime_error.h"

namespace dexweb::test {

// The gateway tables of schema/<engine>.sql with a counters row (record_id 1).
class TestDatabase {
 public:
  virtual ~TestDatabase() = default;
  // DB_Dir of the database.
  std::string dir() const { return folder_.dir(); }
  // The settings of a DBObject on this database: DB_Dir, the rest at the registry's
  // defaults.
  DatabaseSettings settings() const {
    DatabaseSettings s;
    s.db_dir = dir();
    return s;
  }
  // Runs SQL directly on the engine, outside the module's DBObject.
  virtual void exec(const std::string& sql) = 0;
  // The counters row's value.
  virtual long long counter() = 0;
  void set_counter(long long value) {
    exec("UPDATE counters SET unique_id = " + std::to_string(value) + " WHERE record_id = 1");
  }

 protected:
  TempDir folder_;
};

inline std::string schema_text(const std::string& engine) {
  return read_text(std::string(DEXWEB_SCHEMA_DIR) + "/" + engine + ".sql");
}

// A fresh velotrax.db; the globals are reset to its counters row.
class SqliteDatabase final : public TestDatabase {
 public:
  SqliteDatabase() {
    path_ = folder_.file("velotrax.db");
    auto db = platform::SqliteConnection::open(path_, true);
    db.exec("PRAGMA journal_mode=WAL");
    db.exec(schema_text("sqlite"));
    db.exec("INSERT INTO [counters] ([record_id], [unique_id]) VALUES (1, 0)");
    reset_process_state();
  }
  void exec(const std::string& sql) override { platform::SqliteConnection::open(path_).exec(sql); }
  long long counter() override {
    auto db = platform::SqliteConnection::open(path_);
    auto st = db.prepare("SELECT [unique_id] FROM [counters] WHERE [record_id] = 1");
    return st.step() ? st.column_int(0) : -1;
  }

 private:
  std::string path_;
};

class PostgresDatabase final : public TestDatabase {
 public:
  explicit PostgresDatabase(const std::string& clauses) : connection_(env_) {
    static int serial = 0;
    schema_ = "dexweb_data_" + std::to_string(::getpid()) + "_" + std::to_string(++serial);
    connection_.connect(clauses);
    run("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE; CREATE SCHEMA " + schema_ +
        "; SET search_path TO " + schema_);
    run(schema_text("postgresql"));
    run("INSERT INTO \"counters\" (\"record_id\", \"unique_id\") VALUES (1, 0)");
    reset_process_state();
    write_text(folder_.file("SqlServerConnectionString.txt"),
               "# the throw-away test server\r\n" + clauses + "\r\nConnSettings=SET search_path TO " + schema_ + ";\r\n");
  }
  ~PostgresDatabase() override {
    try {
      run("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
    } catch (const platform::OdbcError&) {
      // The server may be gone already; the cluster is thrown away anyway.
    }
  }
  void exec(const std::string& sql) override { run(sql); }
  long long counter() override {
    auto st = connection_.statement();
    st.execute("SELECT \"unique_id\" FROM \"counters\" WHERE \"record_id\" = 1");
    return st.fetch() ? std::stoll(st.get_text(0).value_or("-1")) : -1;
  }

 private:
  void run(const std::string& sql) {
    auto st = connection_.statement();
    st.execute(sql);
    while (st.next_result()) {
    }
  }
  platform::OdbcEnvironment env_;
  platform::OdbcConnection connection_;
  std::string schema_;
};

inline std::unique_ptr<TestDatabase> make_sqlite_database() { return std::make_unique<SqliteDatabase>(); }

// A fresh schema on the test server, or nullptr when DEXWEB_TEST_PG_ODBC is absent. The
// globals are reset to its counters row and DB_Dir holds the connection-string file.
inline std::unique_ptr<TestDatabase> make_postgresql_database() {
  const char* clauses = ::getenv("DEXWEB_TEST_PG_ODBC");
  if (!clauses || !*clauses) return nullptr;
  return std::make_unique<PostgresDatabase>(clauses);
}

// The database of an engine parameter ("sqlite" or "postgresql"); nullptr as above.
inline std::unique_ptr<TestDatabase> make_database(const std::string& engine) {
  return engine == "sqlite" ? make_sqlite_database() : make_postgresql_database();
}

// Runs a test once per engine: the embedded file and, when configured, PostgreSQL.
class EngineTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db_ = make_database(GetParam());
    if (!db_) GTEST_SKIP() << "DEXWEB_TEST_PG_ODBC is not set";
  }
  TestDatabase& database() { return *db_; }

 private:
  std::unique_ptr<TestDatabase> db_;
};

// The error of type Error that call raised; a failure of the test when it raised none.
template <typename Error = RuntimeError, typename Call>
Error error_of(Call&& call) {
  try {
    call();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "no error raised";
  return Error(0, "no error raised", "test");
}

#define DEXWEB_INSTANTIATE_ENGINES(Fixture) \
  INSTANTIATE_TEST_SUITE_P(Engines, Fixture, ::testing::Values("sqlite", "postgresql"), \
                           [](const auto& engine) { return engine.param; })

}  // namespace dexweb::test
