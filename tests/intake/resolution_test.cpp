// Who receives a message: the account branch, the ad-hoc branch and the blacklist.
#include <gtest/gtest.h>

#include "intake/intake_harness.h"

namespace dexweb::test {
namespace {

class Resolution : public IntakeTest {
 protected:
  void SetUp() override {
    for (const char* name : {"Sales", "bob", "amy", "joe"}) h.add_user(name);
    h.add_user("pager", {.multi_page = true});
    h.add_user("staff", {.group_list = true});
    h.add_user("adhoc", {.ad_hoc = true});
    h.add_user("off", {.web_service = false});
  }
  std::vector<std::string> recipients_of(const std::string& user, const std::string& to) {
    h.write_message("m.msg", user, to, "hello");
    h.poll();
    std::vector<std::string> out;
    for (const auto& row : h.rows()) out.push_back(row.original_recipient);
    return out;
  }
  using Names = std::vector<std::string>;
};

TEST_F(Resolution, AnAccountSendsToItselfAndItsList) {
  EXPECT_EQ(recipients_of("SALES", ""), Names{"sales"});
  h.database->exec("DELETE FROM messages");
  EXPECT_EQ(recipients_of("sales", "BOB, amy;joe\tghost"), (Names{"sales", "BOB", "amy", "joe"}));
  const auto rows = h.rows();
  for (const auto& row : rows) {
    EXPECT_EQ(row.transaction, rows[0].transaction);
    EXPECT_EQ(row.user, row.original_recipient);
    EXPECT_EQ(row.last_recipient, row.original_recipient);
    EXPECT_EQ(row.pin, "");
  }
  EXPECT_NE(rows[0].transaction, 0);
  EXPECT_TRUE(h.logged("Recipient not found"));
}

TEST_F(Resolution, MultiPageAndGroupAccountsGetNoRowOfTheirOwn) {
  EXPECT_EQ(recipients_of("pager", ""), Names{});
  EXPECT_TRUE(h.logged("No valid recipients in message"));
  EXPECT_EQ(recipients_of("staff", "bob amy"), (Names{"bob", "amy"}));
}

TEST_F(Resolution, AccountItemsAreCutTo40Characters) {
  const std::string name(40, 'n');
  h.add_user(name);
  EXPECT_EQ(recipients_of("pager", name + "tail"), Names{name});
}

TEST_F(Resolution, AdHocPinsBecomeRowsOfTheAccountUnlessBlacklisted) {
  write_text(h.registry.DB_Dir + "blacklist", "45\r\n");
  h.blacklist.load(h.registry.DB_Dir);
  EXPECT_EQ(recipients_of("adhoc", "123 456 Bob"), (Names{"adhoc-123", "Bob"}));
  const auto rows = h.rows();
  EXPECT_EQ(rows[0].user, "adhoc");
  EXPECT_EQ(rows[0].pin, "123");
  EXPECT_EQ(rows[1].user, "Bob");
  EXPECT_EQ(rows[1].pin, "");
  EXPECT_TRUE(h.logged("Message to Pin number 456 has been dropped due to black-list"));
  EXPECT_TRUE(h.logged("Message accepted. Recipient: adhoc-123 Sender: Pat <pat@example.org>"));
  EXPECT_TRUE(h.bad_copies().empty());

  const std::string pin(90, '9');
  h.database->exec("DELETE FROM messages");
  EXPECT_EQ(recipients_of("adhoc", pin), Names{"adhoc-" + pin.substr(0, 80)});
}

TEST_F(Resolution, AnAdHocMessageWithEveryPinBlacklistedIsRefused) {
  write_text(h.registry.DB_Dir + "blacklist", "45\r\n\r\n");  // the empty line blocks 0...
  h.blacklist.load(h.registry.DB_Dir);
  EXPECT_EQ(recipients_of("adhoc", "4500 0123"), Names{});
  EXPECT_TRUE(h.logged("No valid ad-hoc pin numbers in message"));
  EXPECT_EQ(h.bad_copies().size(), 1u);
}

}  // namespace
}  // namespace dexweb::test
