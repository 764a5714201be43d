#include "intake/recipient_items.h"

#include <gtest/gtest.h>

namespace dexweb {
namespace {

using Items = std::vector<std::string>;

TEST(RecipientItems, SpacesCommasSemicolonsAndTabsSeparate) {
  EXPECT_EQ(split_recipient_list("  bob, amy;joe\t\tann ,; x  ", 40), (Items{"bob", "amy", "joe", "ann", "x"}));
  EXPECT_EQ(split_recipient_list(" ,; ", 40), Items{});
  EXPECT_EQ(collapse_spaces("a   b  c"), "a b c");
}

TEST(RecipientItems, ItemsAreCutToTheLimitInCharacters) {
  std::string accented;
  for (int i = 0; i < 85; ++i) accented += "\xC3\xA9";
  auto items = split_recipient_list(std::string(45, 'a') + " " + accented, 40);
  EXPECT_EQ(items[0], std::string(45, 'a').substr(0, 40));
  EXPECT_EQ(items[1].size(), 80u);  // 40 two-byte characters
  EXPECT_EQ(split_recipient_list(accented, 80)[0].size(), 160u);
}

TEST(RecipientItems, After500ItemsTheRestIsOneItem) {
  std::string list;
  for (int i = 1; i <= 600; ++i) list += "n" + std::to_string(i) + " ";
  auto items = split_recipient_list(list, 40);
  ASSERT_EQ(items.size(), 501u);
  EXPECT_EQ(items[499], "n500");
  EXPECT_EQ(items[500], std::string("n501 n502 n503 n504 n505 n506 n507 n508 n509 n510").substr(0, 40));
}

}  // namespace
}  // namespace dexweb
