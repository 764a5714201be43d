#include "util/text.h"

#include <gtest/gtest.h>

namespace dexweb::text {

TEST(Text, InvalidUtf8BytesAreWindows1252Characters) {
  EXPECT_EQ(decode_bytes("caf\xc3\xa9"), "caf\xc3\xa9");
  EXPECT_EQ(decode_bytes("caf\xe9"), "caf\xc3\xa9");
  EXPECT_EQ(decode_bytes("\x80"), "\xe2\x82\xac");
  EXPECT_EQ(decode_bytes("\xef\xbb\xbfu"), "\xef\xbb\xbfu");
}

TEST(Text, LengthsCountCodePoints) {
  std::string s = "a\xc3\xa9\xe2\x82\xac" "b";
  EXPECT_EQ(length(s), 4u);
  EXPECT_EQ(left(s, 2), "a\xc3\xa9");
  EXPECT_EQ(right(s, 2), "\xe2\x82\xac" "b");
  EXPECT_EQ(mid(s, 3, 1), "\xe2\x82\xac");
  EXPECT_EQ(mid(s, 9), "");
}

TEST(Text, CaseInsensitiveSearchAndReplace) {
  EXPECT_EQ(to_lower("USER=\xc3\x89t\xc3\xa9"), "user=\xc3\xa9t\xc3\xa9");
  EXPECT_EQ(ifind("abcABC", "Bc", 2), 4u);
  EXPECT_EQ(ireplace_all("%date% and %DATE%", "%Date%", "x"), "x and x");
  EXPECT_EQ(replace_all("aXa", "a", "aa"), "aaXaa");
}

TEST(Text, NumbersMustBeWholeText) {
  EXPECT_EQ(parse_number(" 45 "), 45.0);
  EXPECT_FALSE(parse_number("abc"));
  EXPECT_FALSE(parse_number("4x"));
  EXPECT_EQ(round_half_even(2.5), 2);
  EXPECT_EQ(round_half_even(3.5), 4);
}

}  // namespace dexweb::text
