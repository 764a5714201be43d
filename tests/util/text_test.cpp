#include "util/text.h"

#include <gtest/gtest.h>

namespace dexweb::text {

// ASCII texts take a short way; both ways must agree with the letters of each.
TEST(Text, LowerCaseAndDecodingOfAsciiAndOtherTexts) {
  EXPECT_EQ(to_lower("USER=Staff-1 [X]"), "user=staff-1 [x]");
  EXPECT_EQ(to_lower("USER=\xc3\x89t\xc3\xa9"), "user=\xc3\xa9t\xc3\xa9");
  EXPECT_EQ(decode_bytes(std::string("a\0b~", 4)), std::string("a\0b~", 4));
  EXPECT_EQ(decode_bytes("caf\xe9"), "caf\xc3\xa9");
  EXPECT_EQ(ifind("xxUSER=\xc3\x89t\xc3\xa9", "user=\xc3\xa9T"), 2u);
}

}  // namespace dexweb::text
