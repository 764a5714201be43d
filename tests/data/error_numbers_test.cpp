#include "data/error_numbers.h"

#include <algorithm>
#include <set>

#include <gtest/gtest.h>

namespace dexweb {
namespace {

// The error routine's list of database errors that a retry can cure.
const std::set<int> kRetryable = {3002, 3006, 3008, 3009, 3024, 3040, 3043, 3044, 3045, 3046,
                                  3050, 3051, 3146, 3151, 3164, 3186, 3187, 3188, 3189, 3196,
                                  3197, 3202, 3211, 3212, 3218, 3239, 3260, 3261, 3262, 3356,
                                  3465, 3531, 3566, 3572, 3576, 3624, 3733, 3734};

TEST(ErrorNumbers, TransientFailuresAndOnlyThoseAreRetryable) {
  std::set<std::string_view> keys;
  for (const ErrorMapping& m : error_mappings()) {
    EXPECT_GE(m.number, 3000) << m.key;
    EXPECT_LT(m.number, 3800) << m.key;
    EXPECT_EQ(kRetryable.count(m.number) == 1, m.transient) << m.key;
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
