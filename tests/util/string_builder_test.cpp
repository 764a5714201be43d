#include "util/string_builder.h"

#include <gtest/gtest.h>

#include "util/runtime_error.h"

namespace dexweb {
namespace {

TEST(StringBuilder, CapacityStartsPageAlignedGrowsByOnePointSixAndClearShrinks) {
  EXPECT_EQ(StringBuilder(65536).InitialSize(), 65536u);
  EXPECT_EQ(StringBuilder(5000).InitialSize(), 20000u);
  EXPECT_THROW(StringBuilder(0), RuntimeError);

  StringBuilder sb(4096);
  sb.Append(std::string(8191, 'x'));  // 16382 bytes and the terminator: exactly full
  EXPECT_EQ(sb.Capacity(), 16384u);
  sb.Append("y");  // 16384 * 1.6 + 2 -> 32768
  EXPECT_EQ(sb.Capacity(), 32768u);
  sb.Append(std::string(20000, 'z'));  // 32768 * 1.6 + 40000 -> 98304
  EXPECT_EQ(sb.Capacity(), 98304u);
  // The log's shared builder is cleared before every line: nothing of the last one stays.
  sb.Clear();
  EXPECT_EQ(sb.Capacity(), 16384u);
  sb.Append("next");
  EXPECT_EQ(sb.ToString(), "next");
}

}  // namespace
}  // namespace dexweb
