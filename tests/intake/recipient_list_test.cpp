#include "intake/recipient_list.h"

#include <gtest/gtest.h>

#include "intake/intake_harness.h"

namespace dexweb::test {
namespace {

TEST_F(IntakeTest, RecipientsAreFoundWithoutRegardToCase) {
  h.add_user("Sales", {.multi_page = true, .group_list = true});
  h.add_user("SALES", {.ad_hoc = true});
  h.add_user("hidden", {.display_group = true});
  auto sales = h.recipients.find_web_recipient(h.db, h.policy, "sAlEs");
  ASSERT_TRUE(sales);
  EXPECT_TRUE(sales->web_service && sales->multi_page && sales->group_list);
  EXPECT_FALSE(sales->ad_hoc);  // the first of the two spellings
  EXPECT_FALSE(h.recipients.find_web_recipient(h.db, h.policy, "hidden"));
  EXPECT_EQ(h.recipients.count(), 1);
}

TEST_F(IntakeTest, TheListIsLoadedOnceUntilEmptied) {
  h.add_user("bob");
  EXPECT_TRUE(h.recipients.find_web_recipient(h.db, h.policy, "bob"));
  h.add_user("amy");
  EXPECT_FALSE(h.recipients.find_web_recipient(h.db, h.policy, "amy"));
  h.recipients.clear();
  EXPECT_TRUE(h.recipients.find_web_recipient(h.db, h.policy, "amy"));
}

}  // namespace
}  // namespace dexweb::test
