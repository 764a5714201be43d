// What a web file becomes: its bytes on their way to a row, who receives it (the account
// branch, the ad-hoc branch and the blacklist), and the refusals with their log lines, bad
// copies and datagrams; then the pieces they use: the field lines, the list's items, the
// users table and the blacklist file.
#include <gtest/gtest.h>

#include <filesystem>

#include "data/unique_ids.h"
#include "intake/recipients.h"
#include "intake/intake_harness.h"
#include "intake/web_message.h"
#include "logging/reporter.h"
#include "support/udp_listener.h"

namespace dexweb::test {
namespace {

using Names = std::vector<std::string>;

const std::string kLong(40, 'n');  // an account name at the limit of an item

class WebFiles : public IntakeTest {
 protected:
  void SetUp() override {
    for (const char* name : {"Sales", "bob", "amy", "joe", kLong.c_str()}) h.add_user(name);
    h.add_user("pager", {.multi_page = true});
    h.add_user("staff", {.group_list = true});
    h.add_user("adhoc", {.ad_hoc = true});
    h.add_user("off", {.web_service = false});
  }
};

// A row as "RECIPIENT", or "RECIPIENT (USER pin PIN)" where the row is not the recipient's own.
std::string row_text(const MessageRow& row) {
  return row.user == row.original_recipient && row.pin.empty() ? row.original_recipient
                                                                : row.original_recipient + " (" + row.user + " pin " + row.pin + ")";
}

std::string message_file(const std::string& user, const std::string& to, const std::string& message = "hello") {
  return "user=" + user + "\r\nfrm=Pat\r\nsubject=" + to + "\r\nmsg=" + message + "\r\n";
}

// One web file worked alone: the rows it gives, the message and sender of the last, and
// the log lines. A line is there as often as the case lists it; "!LINE" is not there at
// all. "<copy>" stands for the path of the bad copy, which holds the file's bytes and is
// made exactly when the case says so; "<file>" for the web file's path.
struct FileCase {
  const char* what;
  std::string bytes;
  Names rows;
  std::vector<std::string> lines = {};
  bool bad_copy = false;
  std::string message = "hello";
  std::string frm = "Pat";
  const char* blacklist = nullptr;  // the blacklist file's text, none when null
};

TEST_F(WebFiles, EachFileGivesItsRowsRefusalsAndLogLines) {
  std::string nuls("us\0er=sales\r\nmsg=caf\xE9 \0ok", 25);
  std::string utf16 = "\xFF\xFE";  // the NUL bytes go, the first line keeps the mark, the others parse
  for (char c : std::string("frm=x\r\nuser=sales\r\nmsg=hi\r\n")) utf16 += std::string{c, '\0'};
  const std::string sender = "O'Brien \"Pat\" " + std::string(100, 's');
  const std::string pin(90, '9');
  const std::string rejected = "Message rejected. Recipient: ";
  const std::string only_part = "Only the first 1048576 bytes of the web file were read: <file>";
  const std::vector<FileCase> cases{
      // The account branch: the account and its list, items cut to 40 characters.
      {"an account alone", message_file("SALES", ""), {"sales"}},
      {"an account and its list", message_file("sales", "BOB, amy;joe\tghost"), {"sales", "BOB", "amy", "joe"},
       {"Message accepted. Recipient: sales Sender: Pat", "Recipient not found", "!No valid recipients in message"}, true},
      {"a multi-page account gets no row of its own", message_file("pager", ""), {}, {"No valid recipients in message"}, true},
      {"a group account sends to its list only", message_file("staff", "bob amy"), {"bob", "amy"}},
      {"an item cut to 40 characters", message_file("pager", kLong + "tail"), {kLong}},
      {"unsuitable items are refused one by one", message_file("pager", "ghost off adhoc pager"), {},
       {rejected + "ghost Sender: Pat Source: <copy>", "Recipient not found", rejected + "off Sender: Pat Source: <copy>",
        rejected + "adhoc Sender: Pat Source: <copy>", rejected + "pager Sender: Pat Source: <copy>",
        "Not a valid recipient", "Not a valid recipient", "Not a valid recipient", rejected + "pager Sender: Pat Source: <copy>",
        "No valid recipients in message"}, true},
      // The ad-hoc branch: pins become rows of the account unless blacklisted.
      {"ad-hoc pins and an account", message_file("adhoc", "123 456 Bob"), {"adhoc-123 (adhoc pin 123)", "Bob"},
       {"Message to Pin number 456 has been dropped due to black-list", "Message accepted. Recipient: adhoc-123 Sender: Pat"},
       false, "hello", "Pat", "45\r\n"},
      {"a pin cut to 80 characters", message_file("adhoc", pin), {"adhoc-" + pin.substr(0, 80) + " (adhoc pin " + pin.substr(0, 80) + ")"}},
      {"every pin blacklisted (the empty line blocks 0...)", message_file("adhoc", "4500 0123"), {},
       {"No valid ad-hoc pin numbers in message"}, true, "hello", "Pat", "45\r\n\r\n"},
      {"an ad-hoc pin of a web-disabled user", message_file("adhoc", "off"), {},
       {rejected + "off Sender: Pat Source: <copy>", "Ad-hoc PIN/ID is a recipient with web service disabled: off",
        rejected + "adhoc Sender: Pat Source: <copy>", "No valid ad-hoc pin numbers in message"}, true},
      // Files without a usable owner or message.
      {"no user field", "frm=Pat\r\nmsg=hello\r\n", {}, {rejected + " Sender:  Source: <copy>", "No user field in web data"}, true},
      {"an empty message", "user=Sales\r\nfrm=Pat\r\nmsg=\r\n", {},
       {rejected + "sales Sender: Pat Source: <copy>", "No message field in web data"}, true},
      {"an unknown owner", message_file("nobody", ""), {},
       {rejected + "nobody Sender: Pat Source: <copy>", "Recipient record not found or web service not enabled for recipient."}, true},
      {"an owner without the web service", message_file("OFF", ""), {},
       {rejected + "off Sender: Pat Source: <copy>", "Web Service not enabled for Recipient"}, true},
      // The bytes: length, NULs, encodings, line ends, the sender.
      {"a long message is cut", message_file("sales", "", std::string(20000, 'x')), {"sales"}, {"!" + only_part}, false,
       std::string(16000, 'x')},
      {"a huge file is read only in part", "user=sales\r\nfrm=Pat\r\nmsg=" + std::string(3 << 20, 'y'), {"sales"}, {only_part},
       false, std::string(16000, 'y')},
      {"NULs go and bytes that are no UTF-8 are Windows-1252", nuls, {"sales"}, {}, false, "caf\xC3\xA9 ok", ""},
      {"UTF-8 stays", message_file("sales", "", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"), {"sales"}, {}, false,
       "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"},
      {"a byte order mark hides the key of the first line", "\xEF\xBB\xBFuser=sales\r\nmsg=hi\r\n", {},
       {"No user field in web data"}, true},
      {"UTF-16", utf16, {"sales"}, {}, false, "hi", ""},
      {"LF-only line breaks leave one line", "user=Sales\nfrm=Pat\nmsg=hi\n", {}, {"No message field in web data"}, true},
      {"the sender is stored as given and cut to 80", "user=sales\r\nfrm= " + sender + " \r\nmsg=hello\r\n", {"sales"},
       {"Message accepted. Recipient: sales Sender: " + sender.substr(0, 80)}, false, "hello", sender.substr(0, 80)},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.what);
    h.database->exec("DELETE FROM messages");
    h.clear_log();
    std::filesystem::remove_all(h.logs.dir() + "badmsg");
    std::filesystem::remove(h.registry.DB_Dir + "blacklist");
    if (c.blacklist) write_text(h.registry.DB_Dir + "blacklist", c.blacklist);
    h.blacklist.load(h.registry.DB_Dir);
    h.write_web_file("a.msg", c.bytes);
    EXPECT_TRUE(h.poll());
    EXPECT_TRUE(h.web_files().empty());

    const std::vector<MessageRow> rows = h.rows();
    Names got;
    for (const MessageRow& row : rows) {
      got.push_back(row_text(row));
      EXPECT_EQ(row.last_recipient, row.original_recipient);
      EXPECT_EQ(row.transaction, rows[0].transaction);  // one message, one id
      EXPECT_NE(row.transaction, 0);
    }
    EXPECT_EQ(got, c.rows);
    if (!rows.empty()) {
      EXPECT_EQ(rows.back().message, c.message);
      EXPECT_EQ(rows.back().frm, c.frm);
    }
    const std::vector<std::string> copies = h.bad_copies();
    EXPECT_EQ(copies.size(), c.bad_copy ? 1u : 0u);
    const std::string copy = copies.empty() ? "?" : h.logs.dir() + "badmsg/" + copies[0];
    if (!copies.empty()) {
      EXPECT_EQ(read_text(copy), c.bytes);
    }
    for (const std::string& listed : c.lines) {
      const bool absent = listed.starts_with("!");
      std::string line = listed.substr(absent ? 1 : 0);
      for (const auto& [mark, path] : {std::pair<std::string, std::string>{"<copy>", copy}, {"<file>", h.web.file("a.msg")}})
        if (const auto at = line.find(mark); at != std::string::npos) line.replace(at, mark.size(), path);
      const auto times = absent ? 0 : std::count(c.lines.begin(), c.lines.end(), listed);
      EXPECT_EQ(h.count_logged(line), times) << line;
    }
    EXPECT_EQ(h.log_lines().back(), "Completed working on message: a.msg");
  }
}

// Names restart with each run: a copy never replaces an earlier run's file of the same
// name, and the rejection line names the copy that was made.
TEST_F(WebFiles, ABadCopyNeverReplacesAnEarlierRunsFileOfTheSameName) {
  restart_name_sequence(0);
  const std::string badmsg = h.logs.dir() + "badmsg/";
  std::filesystem::create_directories(badmsg);
  write_text(badmsg + "VTXWeb202612041914191.web", "an earlier run's copy");
  h.write_web_file("a.msg", "user=nobody\r\nfrm=Pat\r\nmsg=hi\r\n");
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(read_text(badmsg + "VTXWeb202612041914191.web"), "an earlier run's copy");
  EXPECT_EQ(read_text(badmsg + "VTXWeb202612041914192.web"), "user=nobody\r\nfrm=Pat\r\nmsg=hi\r\n");
  EXPECT_TRUE(h.logged("Message rejected. Recipient: nobody Sender: Pat Source: " + badmsg + "VTXWeb202612041914192.web"));
}

TEST_F(WebFiles, TheMonitorSeesBadThenTheRejectionLine) {
  UdpListener monitor;
  log_state().monitor.enabled = true;
  log_state().monitor.port = std::to_string(monitor.port());
  h.write_web_file("a.msg", "frm=Pat\r\nmsg=hi\r\n");
  h.poll();
  std::vector<std::string> statuses;
  for (const std::string& datagram : monitor.receive_all())
    if (datagram.starts_with("VTXWeb|") &&
        (datagram.find("|bad|") != std::string::npos || datagram.find("rejected") != std::string::npos))
      statuses.push_back(datagram.substr(datagram.find('|', datagram.find('|') + 1) + 1));
  ASSERT_EQ(statuses.size(), 2u);
  EXPECT_EQ(statuses[0], "bad|\r");
  EXPECT_TRUE(statuses[1].starts_with("general|Message rejected. Recipient:  Sender:  Source: "));
}

// What a refusal's notification shows of the message.
TEST(TextHelpers, MaskMessageKeepsNCharactersAtEachEnd) {
  EXPECT_EQ(mask_message("Hello world", 0), "Hello world");
  EXPECT_EQ(mask_message("Hello world", 3), "Hel.....rld");
  EXPECT_EQ(mask_message("Hello", 3), "");
  EXPECT_EQ(mask_message("Hello!", 3), "");
  EXPECT_EQ(mask_message("\xC3\xA9\xC3\xA9\xC3\xA9-\xC3\xA9\xC3\xA9\xC3\xA9", 3), "\xC3\xA9\xC3\xA9\xC3\xA9.\xC3\xA9\xC3\xA9\xC3\xA9");
}

// ---- the pieces ----

// The field lines: keys ignore case, values are trimmed, the later line wins, everything
// after the msg line is the message, and an empty msg line is no message.
TEST(WebFileParser, FieldLines) {
  struct Case {
    const char* content;
    const char* parsed;  // user|frm|subject|message
  };
  for (const Case& c : {Case{"USER= Bob \r\nFrm=  Pat Smith \r\nnoise\r\nSubject= a b \r\nuser=Amy\r\nMSG=  hi  \r\n",
                             "amy|Pat Smith|a b|hi"},
                        Case{"user=bob\r\nmsg= first \r\nuser=eve\r\nsubject=x\r\n\r\n  last  ",
                             "bob|||first\r\nuser=eve\r\nsubject=x\r\n\r\n  last  "},
                        Case{"user=bob\r\nmsg=", "bob|||"}, Case{"user=bob\r\nmsg=   \r\n", "bob|||"},
                        Case{"user=bob\r\nmsg=\r\n\r\n", "bob|||\r\n"}, Case{"user=bob\r\n", "bob|||"}}) {
    NVPList lines;
    split_web_lines(c.content, lines);
    WebMessage msg;
    msg.message = "left over";
    parse_web_lines(lines, msg);
    EXPECT_EQ(msg.user + "|" + msg.frm + "|" + msg.subject + "|" + msg.message, c.parsed) << c.content;
  }
}

using Items = std::vector<std::string>;

// Spaces, commas, semicolons and tabs separate; items are cut to the limit in characters.
TEST(RecipientItems, SeparatorsTheLimitInCharactersAndAtMost500) {
  EXPECT_EQ(split_recipient_list("  bob, amy;joe\t\tann ,; x  ", 40), (Items{"bob", "amy", "joe", "ann", "x"}));
  EXPECT_EQ(split_recipient_list(" ,; ", 40), Items{});
  EXPECT_EQ(collapse_spaces("a   b  c"), "a b c");
  std::string accented;
  for (int i = 0; i < 85; ++i) accented += "\xC3\xA9";
  auto items = split_recipient_list(std::string(45, 'a') + " " + accented, 40);
  EXPECT_EQ(items[0], std::string(40, 'a'));
  EXPECT_EQ(items[1], accented.substr(0, 80));  // 40 two-byte characters
  EXPECT_EQ(split_recipient_list(accented, 80)[0], accented.substr(0, 160));

  // After 500 items the rest is one item.
  std::string list;
  for (int i = 1; i <= 600; ++i) list += "n" + std::to_string(i) + " ";
  items = split_recipient_list(list, 40);
  ASSERT_EQ(items.size(), 501u);
  EXPECT_EQ(items[499], "n500");
  EXPECT_EQ(items[500], std::string("n501 n502 n503 n504 n505 n506 n507 n508 n509 n510").substr(0, 40));
}

TEST_F(IntakeTest, RecipientsAreFoundWithoutRegardToCaseInAListLoadedOnceUntilEmptied) {
  h.add_user("Sales", {.multi_page = true, .group_list = true});
  h.add_user("SALES", {.ad_hoc = true});
  h.add_user("hidden", {.display_group = true});
  auto sales = h.recipients.find_web_recipient(h.db, h.policy, "sAlEs");
  ASSERT_TRUE(sales);
  EXPECT_TRUE(sales->web_service && sales->multi_page && sales->group_list);
  EXPECT_FALSE(sales->ad_hoc);  // the first of the two spellings
  EXPECT_FALSE(h.recipients.find_web_recipient(h.db, h.policy, "hidden"));
  EXPECT_EQ(h.recipients.count(), 1);

  // The list is loaded once until emptied.
  h.recipients.clear();
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

TEST_F(IntakeTest, NoBlacklistFileNoEntriesAndALongFileKeepsItsFirst100) {
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
