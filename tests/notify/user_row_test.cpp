// The recipient's row of the users table: SQL Server's statement as sent, and the row read
// from a real database whatever the case of the name.
#include "notify/internal/notification_parts.h"

#include <gtest/gtest.h>

#include "data/db_object.h"
#include "data/dialect.h"
#include "data/engine_fixture.h"
#include "logging/reporter.h"

namespace dexweb {
namespace {

TEST(UserRowQuery, SqlServerTextAsSent) {
  EXPECT_EQ(user_row_query(dialect_for(DatabaseKind::SqlServer), "o'brien"),
            "SELECT TOP 1 [full_name], [extra1], [extra2], [extra3], [extra4] FROM [users] WITH (NOLOCK)"
            " WHERE ([user] = 'o''brien' )");
}

class UserRow : public test::EngineTest {};
DEXWEB_INSTANTIATE_ENGINES(UserRow);

TEST_P(UserRow, FoundWhateverTheCaseOfTheName) {
  database().exec("INSERT INTO users (\"user\", full_name, extra1, extra4) VALUES ('NoWeb', 'Ann Smith', 'one', NULL)");
  DBObject db(database().settings());
  for (const std::string name : {"NOWEB", "noweb", "NoWeb"}) {
    auto row = find_user_row(db, name);
    ASSERT_TRUE(row) << name;
    EXPECT_EQ(row->full_name + "|" + row->extra1 + "|" + row->extra4, "Ann Smith|one|") << name;
  }
  EXPECT_FALSE(find_user_row(db, "NoWe"));
}

}  // namespace
}  // namespace dexweb
