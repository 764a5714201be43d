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

}  // namespace
}  // namespace dexweb
