#pragma once
// Runs a test once per engine: the embedded SQLite file and, when a test server is
// configured, PostgreSQL over psqlODBC.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "data/test_databases.h"

namespace dexweb::test {

class EngineTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db_ = GetParam() == "sqlite" ? make_sqlite_database() : make_postgresql_database();
    if (!db_) GTEST_SKIP() << "DEXWEB_TEST_PG_ODBC is not set";
  }
  TestDatabase& database() { return *db_; }

 private:
  std::unique_ptr<TestDatabase> db_;
};

#define DEXWEB_INSTANTIATE_ENGINES(Fixture) \
  INSTANTIATE_TEST_SUITE_P(Engines, Fixture, ::testing::Values("sqlite", "postgresql"), \
                           [](const auto& engine) { return engine.param; })

}  // namespace dexweb::test
