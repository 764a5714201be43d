#include "intake/text_helpers.h"

#include <gtest/gtest.h>

#include "config/globals.h"
#include "logging/log_state.h"

namespace dexweb {
namespace {

TEST(TextHelpers, TextBeforeAndAfterTheFirstDelimiter) {
  EXPECT_EQ(TextBefore("a=b=c", "=", "none"), "a");
  EXPECT_EQ(TextBefore("abc", "=", "none"), "none");
  EXPECT_EQ(TextBefore("oneXtwo", "x", "none"), "one");
  EXPECT_EQ(TextAfter("a=b=c", "=", "none"), "b=c");
  EXPECT_EQ(TextAfter("abc=", "=", "none"), "none");
  EXPECT_EQ(TextAfter("abc", "=", "none"), "none");
  EXPECT_EQ(TextAfter("a\r\n", "\r\n", "none"), "");
  EXPECT_EQ(StripNulls(std::string("a\0b\0", 4)), "ab");
  EXPECT_EQ(DoubleQuotes("it's 'x'"), "it''s ''x''");
  EXPECT_EQ(VariantToText(Null{}), "");
  EXPECT_EQ(VariantToText(std::int32_t{42}), "42");
}

TEST(TextHelpers, MaskMessageKeepsNCharactersAtEachEnd) {
  reset_globals();
  EXPECT_EQ(MaskMessage("Hello world"), "Hello world");
  globals().Registry.Obfuscate_Msg_Chars = 3;
  EXPECT_EQ(MaskMessage("Hello world"), "Hel.....rld");
  EXPECT_EQ(MaskMessage("Hello"), "");
  EXPECT_EQ(MaskMessage("Hello!"), "");
  EXPECT_EQ(MaskMessage("\xC3\xA9\xC3\xA9\xC3\xA9-\xC3\xA9\xC3\xA9\xC3\xA9"), "\xC3\xA9\xC3\xA9\xC3\xA9.\xC3\xA9\xC3\xA9\xC3\xA9");
  reset_globals();
}

}  // namespace
}  // namespace dexweb
