#include "data/internal/error_numbers.h"

#include "logging/error_policy.h"

#include <algorithm>
#include <set>

#include <gtest/gtest.h>

namespace dexweb {
namespace {

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
}

TEST(ErrorNumbers, SqliteCodes) {
  EXPECT_EQ(sqlite_error_number(5, 517), 3260);  // SQLITE_BUSY_SNAPSHOT: busy
  EXPECT_EQ(sqlite_error_number(19, 1299), 3314);  // NOT NULL has its own number
  EXPECT_EQ(sqlite_error_number(19, 2067), 3022);  // UNIQUE falls back to CONSTRAINT
  EXPECT_EQ(sqlite_error_number(99, 99), 3000);
}

TEST(ErrorNumbers, SqlStatesExactThenByClass) {
  EXPECT_EQ(sqlstate_error_number("08S01"), 3146);
  EXPECT_EQ(sqlstate_error_number("08006"), 3151);  // class 08
  EXPECT_EQ(sqlstate_error_number("42P01"), 3078);
  EXPECT_EQ(sqlstate_error_number("42601"), 3075);  // class 42
  EXPECT_EQ(sqlstate_error_number("28P01"), 3059);  // refused login: OpenDb's authentication error
  EXPECT_EQ(sqlstate_error_number("IM002"), 3001);  // unknown driver: invalid connection string
  EXPECT_EQ(sqlstate_error_number("hyt00"), 3146);
  EXPECT_EQ(sqlstate_error_number("ZZ999"), 3146);
}

}  // namespace
}  // namespace dexweb
