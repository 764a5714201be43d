#pragma once
// Real databases for the data layer's tests: a SQLite file in a temporary DB_Dir, and a
// PostgreSQL schema of its own (reached over psqlODBC through a connection-string file in
// a temporary DB_Dir) when DEXWEB_TEST_PG_ODBC names a test server.

#include <memory>
#include <optional>
#include <string>

#include "data/db_object.h"
#include "support/temp_dir.h"

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
  void set_counter(long long value);

 protected:
  TempDir folder_;
};

// A fresh velotrax.db; the globals are reset to its counters row.
std::unique_ptr<TestDatabase> make_sqlite_database();
// A fresh schema on the test server, or nullptr when DEXWEB_TEST_PG_ODBC is absent. The
// globals are reset to its counters row and DB_Dir holds the connection-string file.
std::unique_ptr<TestDatabase> make_postgresql_database();

// The ODBC clauses of the test server, when there is one.
std::optional<std::string> pg_clauses();

}  // namespace dexweb::test
