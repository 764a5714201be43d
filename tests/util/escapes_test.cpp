#include "util/escapes.h"

#include <gtest/gtest.h>

namespace dexweb {
namespace {

TEST(Escapes, OnlyThreeDigitCodesUpTo255AreDecoded) {
  EXPECT_EQ(decode_escapes("a\\013\\010b"), "a\r\nb");
  EXPECT_EQ(decode_escapes("\\128"), "\xe2\x82\xac");
  EXPECT_EQ(decode_escapes("C:\\f\\2019\\web"), "C:\\f\xc3\x89" "9\\web");
  EXPECT_EQ(decode_escapes("\\\\065"), "\\A");
  EXPECT_EQ(decode_escapes("C:\\temp \\300 \\299 \\06"), "C:\\temp \\300 \\299 \\06");
}

}  // namespace
}  // namespace dexweb
