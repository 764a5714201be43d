#include "intake/text_helpers.h"

#include <gtest/gtest.h>


namespace dexweb {
namespace {

TEST(TextHelpers, TextBeforeAndAfterTheFirstDelimiter) {
  EXPECT_EQ(text_before("a=b=c", "=", "none"), "a");
  EXPECT_EQ(text_before("abc", "=", "none"), "none");
  EXPECT_EQ(text_before("oneXtwo", "x", "none"), "one");
  EXPECT_EQ(text_after("a=b=c", "=", "none"), "b=c");
  EXPECT_EQ(text_after("abc=", "=", "none"), "none");
  EXPECT_EQ(text_after("abc", "=", "none"), "none");
  EXPECT_EQ(text_after("a\r\n", "\r\n", "none"), "");
  EXPECT_EQ(strip_nulls(std::string("a\0b\0", 4)), "ab");
  EXPECT_EQ(double_quotes("it's 'x'"), "it''s ''x''");
  EXPECT_EQ(variant_to_text(Null{}), "");
  EXPECT_EQ(variant_to_text(std::int32_t{42}), "42");
}

TEST(TextHelpers, MaskMessageKeepsNCharactersAtEachEnd) {
  EXPECT_EQ(mask_message("Hello world", 0), "Hello world");
  EXPECT_EQ(mask_message("Hello world", 3), "Hel.....rld");
  EXPECT_EQ(mask_message("Hello", 3), "");
  EXPECT_EQ(mask_message("Hello!", 3), "");
  EXPECT_EQ(mask_message("\xC3\xA9\xC3\xA9\xC3\xA9-\xC3\xA9\xC3\xA9\xC3\xA9", 3), "\xC3\xA9\xC3\xA9\xC3\xA9.\xC3\xA9\xC3\xA9\xC3\xA9");
}

}  // namespace
}  // namespace dexweb
