// Who receives a message: the account branch, the ad-hoc branch and the blacklist, and the
// pieces they use: the list's items, the users table and the blacklist file.
#include <gtest/gtest.h>

#include "intake/recipients.h"
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

using Items = std::vector<std::string>;

// Spaces, commas, semicolons and tabs separate; items are cut to the limit in characters.
TEST(RecipientItems, SeparatorsAndTheLimitInCharacters) {
  EXPECT_EQ(split_recipient_list("  bob, amy;joe\t\tann ,; x  ", 40), (Items{"bob", "amy", "joe", "ann", "x"}));
  EXPECT_EQ(split_recipient_list(" ,; ", 40), Items{});
  EXPECT_EQ(collapse_spaces("a   b  c"), "a b c");
  std::string accented;
  for (int i = 0; i < 85; ++i) accented += "\xC3\xA9";
  auto items = split_recipient_list(std::string(45, 'a') + " " + accented, 40);
  EXPECT_EQ(items[0], std::string(40, 'a'));
  EXPECT_EQ(items[1], accented.substr(0, 80));  // 40 two-byte characters
  EXPECT_EQ(split_recipient_list(accented, 80)[0], accented.substr(0, 160));
}

TEST(RecipientItems, After500ItemsTheRestIsOneItem) {
  std::string list;
  for (int i = 1; i <= 600; ++i) list += "n" + std::to_string(i) + " ";
  auto items = split_recipient_list(list, 40);
  ASSERT_EQ(items.size(), 501u);
  EXPECT_EQ(items[499], "n500");
  EXPECT_EQ(items[500], std::string("n501 n502 n503 n504 n505 n506 n507 n508 n509 n510").substr(0, 40));
}

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

TEST(BlackListEntry, TheNumberAtTheStartOfTheLine) {
  for (const auto& [line, entry] : std::vector<std::pair<std::string, std::string>>{
           {"12-34", "12"}, {"1 2 3", "123"}, {"  0451 # office", "451"}, {"", "0"}, {"none", "0"}, {"-7", "-7"}, {"1.5x", "1.5"}})
    EXPECT_EQ(blacklist_entry(line), entry) << line;
}

TEST_F(Resolution, NoBlacklistFileNoEntriesAndALongFileKeepsItsFirst100) {
  h.blacklist.load(h.registry.DB_Dir);
  EXPECT_EQ(h.blacklist.blacklist_count(), 0);
  EXPECT_FALSE(h.blacklist.in_blacklist("0"));

  std::string lines;
  for (int i = 1; i <= 150; ++i) lines += std::to_string(1000 + i) + "\r\n";
  write_text(h.registry.DB_Dir + "blacklist", lines);
  h.blacklist.load(h.registry.DB_Dir);
  EXPECT_EQ(h.blacklist.blacklist_count(), 100);
  EXPECT_TRUE(h.blacklist.in_blacklist("1100"));
  EXPECT_FALSE(h.blacklist.in_blacklist("1101"));
}

}  // namespace
}  // namespace dexweb::test
