#include "intake/text_helpers.h"

#include <gtest/gtest.h>

namespace dexweb {
namespace {

TEST(TextHelpers, MaskMessageKeepsNCharactersAtEachEnd) {
  EXPECT_EQ(mask_message("Hello world", 0), "Hello world");
  EXPECT_EQ(mask_message("Hello world", 3), "Hel.....rld");
  EXPECT_EQ(mask_message("Hello", 3), "");
  EXPECT_EQ(mask_message("Hello!", 3), "");
  EXPECT_EQ(mask_message("\xC3\xA9\xC3\xA9\xC3\xA9-\xC3\xA9\xC3\xA9\xC3\xA9", 3), "\xC3\xA9\xC3\xA9\xC3\xA9.\xC3\xA9\xC3\xA9\xC3\xA9");
}

}  // namespace
}  // namespace dexweb
