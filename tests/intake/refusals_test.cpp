// The nine refusals through check_for_messages: their log lines, the bad copy, what happens
// to the file and the rows, and how much of the message their notifications show.
#include <gtest/gtest.h>

#include "data/unique_ids.h"
#include "intake/intake_harness.h"
#include "intake/web_message.h"
#include "logging/log_state.h"
#include "support/udp_listener.h"

namespace dexweb::test {
namespace {

class Refusals : public IntakeTest {
 protected:
  void SetUp() override {
    h.add_user("sales");
    h.add_user("bob");
    h.add_user("off", {.web_service = false});
    h.add_user("pager", {.multi_page = true});
    h.add_user("adhoc", {.ad_hoc = true});
    h.add_user("adhoc2", {.ad_hoc = true});
  }
  // The rejection line of the one bad copy path of the run.
  std::string rejected(const std::string& recipient, const std::string& sender) {
    EXPECT_EQ(h.bad_copies().size(), 1u);
    const std::string copy = h.bad_copies().empty() ? "?" : h.logs.dir() + "badmsg/" + h.bad_copies()[0];
    return "Message rejected. Recipient: " + recipient + " Sender: " + sender + " Source: " + copy;
  }
  // Works the one file and checks it left the folder with one copy in the bad folder; the
  // log and the bad folder of an earlier file are cleared first.
  void work(const std::string& bytes) {
    h.clear_log();
    std::filesystem::remove_all(h.logs.dir() + "badmsg");
    h.write_web_file("a.msg", bytes);
    EXPECT_TRUE(h.poll());
    EXPECT_TRUE(h.web_files().empty());
    ASSERT_EQ(h.bad_copies().size(), 1u);
    EXPECT_EQ(read_text(h.logs.dir() + "badmsg/" + h.bad_copies()[0]), bytes);
  }
};

// Names restart with each run: a copy never replaces an earlier run's file of the same
// name, and the rejection line names the copy that was made.
TEST_F(Refusals, ACopyNeverReplacesAnEarlierRunsFileOfTheSameName) {
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

TEST_F(Refusals, AFileWithoutAUsableOwnerOrMessageIsRefusedWithItsReason) {
  struct Case {
    const char* bytes;
    const char* recipient;
    const char* sender;
    const char* reason;
  };
  for (const Case& c : {Case{"frm=Pat\r\nmsg=hello\r\n", "", "", "No user field in web data"},
                        Case{"user=Sales\r\nfrm=Pat\r\nmsg=\r\n", "sales", "Pat", "No message field in web data"},
                        Case{"user=nobody\r\nfrm=Pat\r\nmsg=hi\r\n", "nobody", "Pat",
                             "Recipient record not found or web service not enabled for recipient."},
                        Case{"user=OFF\r\nfrm=Pat\r\nmsg=hi\r\n", "off", "Pat", "Web Service not enabled for Recipient"}}) {
    work(c.bytes);
    EXPECT_TRUE(h.logged(rejected(c.recipient, c.sender))) << c.bytes;
    EXPECT_TRUE(h.logged(c.reason)) << c.bytes;
  }
  EXPECT_TRUE(h.rows().empty());
}

TEST_F(Refusals, UnsuitableItemsAreRefusedOneByOneAndAllCopiesGoToOnePath) {
  work("user=pager\r\nfrm=Pat\r\nsubject=ghost off adhoc pager\r\nmsg=hi\r\n");
  const auto lines = h.log_lines();
  EXPECT_TRUE(h.logged(rejected("ghost", "Pat")));
  EXPECT_EQ(h.count_logged("Recipient not found"), 1);
  EXPECT_EQ(h.count_logged("Not a valid recipient"), 3);
  EXPECT_TRUE(h.logged(rejected("pager", "Pat")));
  EXPECT_TRUE(h.logged("No valid recipients in message"));
  EXPECT_EQ(lines.back(), "Completed working on message: a.msg");
  EXPECT_TRUE(h.rows().empty());
}

TEST_F(Refusals, AnAcceptedAndARefusedRecipientGiveOneRowAndOneRefusal) {
  work("user=sales\r\nfrm=Pat\r\nsubject=ghost\r\nmsg=hi\r\n");
  ASSERT_EQ(h.rows().size(), 1u);
  EXPECT_EQ(h.rows()[0].user, "sales");
  EXPECT_TRUE(h.logged("Message accepted. Recipient: sales Sender: Pat"));
  EXPECT_TRUE(h.logged("Recipient not found"));
  EXPECT_FALSE(h.logged("No valid recipients in message"));
}

TEST_F(Refusals, AdHocPinsOfWebDisabledUsersAreRefused) {
  work("user=adhoc\r\nfrm=Pat\r\nsubject=off\r\nmsg=hi\r\n");
  EXPECT_TRUE(h.logged(rejected("off", "Pat")));
  EXPECT_TRUE(h.logged("Ad-hoc PIN/ID is a recipient with web service disabled: off"));
  EXPECT_TRUE(h.logged(rejected("adhoc", "Pat")));
  EXPECT_TRUE(h.logged("No valid ad-hoc pin numbers in message"));
}

TEST_F(Refusals, TheMonitorSeesBadThenTheRejectionLine) {
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

}  // namespace
}  // namespace dexweb::test
