#include "notify/notifications.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace dexweb {
namespace {

using ::testing::ElementsAre;

TEST(NotifyList, SeparatorsBlanksQuotesAndEmptyItems) {
  EXPECT_THAT(parse_notify_list("  a@x.com  ,b@x.com\r\n\r\n  \nc@x.com\rd@x.com,,\"\"\r\n"
                                " \"Smith, Ann \r\n<e@x.com>\" ignored,f@x.com"),
              ElementsAre("a@x.com", "b@x.com", "c@x.com", "d@x.com", "Smith, Ann \r\n<e@x.com>", "f@x.com"));
  EXPECT_THAT(parse_notify_list("a@x.com,\"b@x.com, c"), ElementsAre("a@x.com", "b@x.com, c"));
}

TEST(NotifyList, SenderItemAddressRules) {
  EXPECT_EQ(notify_address("%Sender%", "jane", "example.com"), "jane@example.com");            // no "@"
  EXPECT_EQ(notify_address("%Sender%", "a@b.c", "example.com"), "a@b.c@example.com");          // shorter than 6
  EXPECT_EQ(notify_address("%Sender%", "jane@host", "example.com"), "jane@host@example.com");  // no dot after "@"
  EXPECT_EQ(notify_address("%Sender%", "@host.org", "example.com"), "@host.org@example.com");  // "@" first
  EXPECT_EQ(notify_address("%Sender%", " j@h.io ", "example.com"), "j@h.io");
  EXPECT_EQ(notify_address("%Sender%", "  ", "example.com"), "");  // nobody to tell
  // A sender field naming several counts by its first element: one address at most.
  EXPECT_EQ(notify_address("%Sender%", "a@x.example,b@y.example,c@z.example", "example.com"), "a@x.example");
  EXPECT_EQ(notify_address("%Sender%", " ;jane bob@y.example", "example.com"), "jane@example.com");
  EXPECT_EQ(notify_address("%sender%", "jane", "example.com"), "%sender%");
}

TEST(NotifyList, AddressStaysOneHeaderLine) {
  EXPECT_EQ(notify_address("%Sender%", "eve@x.org\nBcc: all@x.org", "example.com"), "eve@x.org");
  EXPECT_EQ(notify_address("%Sender%", "eve\rBcc: all@x.org", "example.com"), "eve@example.com");
  EXPECT_EQ(notify_address("a@x.com\r\nb", "jane", "example.com"), "a@x.com");
}

}  // namespace
}  // namespace dexweb
