#include "platform/odbc.h"

#include <stdlib.h>

#include <gtest/gtest.h>

namespace dexweb::platform {
namespace {

class OdbcServer : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* clauses = ::getenv("DEXWEB_TEST_PG_ODBC");
    if (!clauses) GTEST_SKIP() << "DEXWEB_TEST_PG_ODBC is not set";
    clauses_ = clauses;
    connection_.connect(clauses_);
  }
  OdbcEnvironment env_;
  OdbcConnection connection_{env_};
  std::string clauses_;
};

TEST_F(OdbcServer, TextNullAndBooleansComeBackAsWritten) {
  EXPECT_EQ(connection_.dbms_name(), "PostgreSQL");
  std::string long_text(9000, 'x');
  long_text += "\xe6\x97\xa5\xf0\x9f\x93\x9f";
  auto st = connection_.statement();
  ASSERT_TRUE(st.execute("SELECT '" + long_text + "' AS t, NULL AS n, TRUE AS b, 7::smallint AS s"));
  auto columns = st.columns();
  ASSERT_EQ(columns.size(), 4u);
  EXPECT_EQ(columns[2].kind, OdbcKind::Boolean);
  EXPECT_EQ(columns[3].kind, OdbcKind::SmallInt);
  ASSERT_TRUE(st.fetch());
  EXPECT_EQ(st.get_text(0), long_text);
  EXPECT_EQ(st.get_text(1), std::nullopt);
  EXPECT_FALSE(st.fetch());
}

TEST_F(OdbcServer, FailuresCarrySqlStates) {
  auto st = connection_.statement();
  try {
    st.execute("SELECT * FROM no_such_table");
    FAIL();
  } catch (const OdbcError& e) {
    EXPECT_EQ(e.records().front().state, "42P01");
  }
  OdbcConnection other(env_);
  try {
    other.connect(clauses_ + "Port=1;");
    FAIL();
  } catch (const OdbcError& e) {
    EXPECT_EQ(e.records().front().state.substr(0, 2), "08");
  }
}

}  // namespace
}  // namespace dexweb::platform
