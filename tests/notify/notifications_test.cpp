#include "notify/notifications.h"

#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "data/unique_ids.h"
#include "logging/error_policy.h"
#include "notify/internal/notification_parts.h"
#include "notify/notify_fixture.h"
#include "platform/clock.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

using test::line_of;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

class Notifications : public test::NotifyTest {
 protected:
  Notifications() {
    registry_.Log_Dir = logs_.dir();
  }

  void failure_files(const std::string& list, const std::string& mail_template) {
    test::write_text(prog_.file("failurenotifylist.txt"), list);
    test::write_text(prog_.file("failure.mtp"), mail_template);
  }
  void refuse(const std::string& recipient = "bob") {
    send_notifications(ctx_, "Hel.....rld", "jane", recipient, true, "Recipient not found");
  }
  // The text after the five header lines, without the final CR LF.
  static std::string body(const std::string& content) {
    std::size_t start = content.find("\r\nFrom: ");
    start = content.find("\r\n", start + 2) + 2;
    return content.substr(start, content.size() - start - 2);
  }

  test::TempDir logs_;
};

TEST_F(Notifications, RefusalWritesOneCompleteFilePerAddress) {
  platform::set_server_time_offset(std::chrono::seconds{90});  // in the names only, not in the Date line
  failure_files("ops@example.com\r\n%Sender%\r\n",
                "Subject: Message for %Recipient% refused\r\n\r\n"
                "Reason: %ErrorMessage%\r\nMessage: %Message%\r\nSent on %Date%\r\n");
  refuse("nobody");

  const std::string text =
      "From: postmaster@example.com\r\n"
      "Subject: Message for nobody refused\r\n\r\n"
      "Reason: Recipient not found\r\nMessage: Hel.....rld\r\nSent on 12/4/2026\r\n\r\n";
  EXPECT_THAT(test::files_in(settings_.mail_out_dir),
              ElementsAre("VTXWeb202612041415491.msg", "VTXWeb202612041415493.msg"));
  EXPECT_THAT(mail(), ElementsAre("Message-ID: <VTXWeb202612041415492@example.com>\r\n"
                                  "Date: Fri, 04 Dec 2026 19:14:19 +0000\r\n"
                                  "X-WRTo: ops@example.com\r\nTo: ops@example.com\r\n" + text,
                                  "Message-ID: <VTXWeb202612041415494@example.com>\r\n"
                                  "Date: Fri, 04 Dec 2026 19:14:19 +0000\r\n"
                                  "X-WRTo: jane@example.com\r\nTo: jane@example.com\r\n" + text));
}

TEST_F(Notifications, NothingWhileMailIsDisabledOrAFileIsMissingOrTheTemplateEmpty) {
  failure_files("ops@example.com", "body");
  settings_.dexmail_enabled = false;
  refuse();
  settings_.dexmail_enabled = true;
  send_notifications(ctx_, "m", "jane", "bob", false, "");  // no success files
  failure_files("ops@example.com", "");
  refuse();
  EXPECT_THAT(test::files_in(settings_.mail_out_dir), IsEmpty());
}

TEST_F(Notifications, OutcomeChoosesThePairWhateverTheCaseOfTheNames) {
  test::write_text(prog_.file("FailureNotifyList.TXT"), "fail@example.com");
  test::write_text(prog_.file("FAILURE.MTP"), "failed");
  test::write_text(prog_.file("successnotifylist.txt"), "ok@example.com");
  test::write_text(prog_.file("Success.mtp"), "delivered");
  refuse();
  send_notifications(ctx_, "m", "jane", "bob", false, "");
  auto files = mail();
  ASSERT_THAT(files, SizeIs(2));
  EXPECT_EQ(line_of(files[0], 3) + " " + body(files[0]), "To: fail@example.com failed");
  EXPECT_EQ(line_of(files[1], 3) + " " + body(files[1]), "To: ok@example.com delivered");
}

TEST_F(Notifications, TemplateIsCutAt5412Characters) {
  std::string fits;
  for (int i = 0; i < 5403; ++i) fits += "\xc3\xa9";  // 5403 + 9 = 5412 characters
  failure_files("ops@example.com", fits + "%Message%");
  refuse();
  failure_files("ops@example.com", fits + "\xc3\xa9%Message%");
  refuse();
  EXPECT_THAT(mail(), ElementsAre(::testing::EndsWith(fits + "Hel.....rld\r\n"),
                                  ::testing::EndsWith(fits + "\xc3\xa9%Message\r\n")));
}

TEST_F(Notifications, UserRowFillsItsPlaceholdersOnlyWhenThereIsOne) {
  database_->exec(
      "INSERT INTO [users] ([user], [full_name], [extra1], [extra2], [extra3], [extra4]) "
      "VALUES ('o''brien', 'Ann O''Brien', NULL, 'two', NULL, 'four')");
  const std::string text = "%FullName%|%Comment1%|%Comment2%|%Comment3%|%Comment4%";
  failure_files("ops@example.com", text);
  refuse("o'brien");
  refuse("nobody");
  refuse("O'Brien");  // names compare without regard to case, as on the gateway's other databases
  auto files = mail();
  ASSERT_THAT(files, SizeIs(3));
  EXPECT_EQ(body(files[0]), "Ann O'Brien||two||four");
  EXPECT_EQ(body(files[1]), text);
  EXPECT_EQ(body(files[2]), "Ann O'Brien||two||four");
}

TEST_F(Notifications, ASubmitterAddsNoHeaderLinesAndReadsNoAccountColumns) {
  database_->exec("INSERT INTO [users] ([user], [full_name], [extra1]) VALUES ('bob', 'Bob Jones', '555-0100')");
  failure_files("%Sender%", "Subject: Refused: %Message% (%Sender%)\r\n\r\n%Message%\r\n");
  send_notifications(ctx_, "%FullName% %Comment1%\nBcc: victim@target.example",
                    "eve@evil.example\nBcc: victim@target.example", "bob", true, "Recipient not found");
  EXPECT_THAT(mail(), ElementsAre("Message-ID: <VTXWeb202612041414192@example.com>\r\n"
                                  "Date: Fri, 04 Dec 2026 19:14:19 +0000\r\n"
                                  "X-WRTo: eve@evil.example\r\nTo: eve@evil.example\r\n"
                                  "From: postmaster@example.com\r\n"
                                  "Subject: Refused: %FullName% %Comment1% (eve@evil.example)\r\n\r\n"
                                  "%FullName% %Comment1%\nBcc: victim@target.example\r\n\r\n"));
}

TEST_F(Notifications, MissingMailFolderGoesThroughTheFileErrorRoundsThenHalts) {
  failure_files("ops@example.com", "body");
  std::filesystem::remove(settings_.mail_out_dir);
  EXPECT_THROW(refuse(), ModuleHalted);
  std::string log = test::read_text(logs_.file("VTXWeb.log"));
  EXPECT_NE(log.find("Warning. Unable to access file/directory: Procedure: SendNotifications. Retrying..."),
            std::string::npos);
  EXPECT_NE(log.find("Program Halted. File/Directory error: 53 "), std::string::npos);
  EXPECT_TRUE(log.ends_with(" in Procedure: SendNotifications\r\n"));
}

TEST_F(Notifications, RetryResumesAtTheFailedAddress) {
  // The second file is too large until the limit is lifted during the retry waits; the
  // first one must not be written again.
  const std::string long_address(3000, 'x');
  failure_files("ops@example.com\r\n" + long_address, "for %NotifyAddress%");
  db_.OpenDb();  // before the limit holds
  std::optional<test::FileSizeLimit> limit(std::in_place, 2000);
  clock_.at(std::chrono::seconds(5), [&] { limit.reset(); });
  refuse();

  EXPECT_GT(policy_.retry_count(), 0);
  EXPECT_THAT(test::files_in(settings_.mail_out_dir), SizeIs(2));
  EXPECT_THAT(mail(), ElementsAre(::testing::EndsWith("for ops@example.com\r\n"),
                                  ::testing::EndsWith("for " + long_address + "\r\n")));
}

// The mail files themselves: header lines, names that never replace an unsent file, and
// nothing left of a file that could not be written whole.
class MailFile : public test::NotifyTest {
 protected:
  std::string write() { return test::read_text(write_mail_file(settings_, "ops@x.com", "body")); }
};

TEST_F(MailFile, HeaderValuesStayOneLineEachAndTheSenderFallsBackToTheDomain) {
  settings_.postmaster = "pm@example.com\r\nBcc: a@target.example";
  settings_.domain = "example.com\nBcc: b@target.example";
  const std::string path = write_mail_file(settings_, "ops@x.com\x01\x1b\nBcc: c@target.example", "body");
  EXPECT_EQ(test::read_text(path),
            "Message-ID: <VTXWeb202612041414192@example.com>\r\n"
            "Date: Fri, 04 Dec 2026 19:14:19 +0000\r\n"
            "X-WRTo: ops@x.com  \r\nTo: ops@x.com  \r\nFrom: pm@example.com\r\nbody\r\n");
  // For the module's account and its group only.
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0137, 0u);

  settings_.postmaster = "   ";
  EXPECT_EQ(line_of(write(), 4), "From: velotrax@example.com");
  settings_.postmaster = " pm@example.com ";
  EXPECT_EQ(line_of(write(), 4), "From:  pm@example.com ");
  settings_.postmaster = "";
  settings_.domain = "";
  std::string content = write();
  EXPECT_EQ(line_of(content, 4), "From: velotrax@");
  EXPECT_TRUE(line_of(content, 0).ends_with("@>"));
}

TEST_F(MailFile, NeverReplacesAFileTheMailModuleHasNotSentYet) {
  // The sequence of names begins again with every run: files of the last run may still
  // hold the names this run makes.
  const std::string unsent = settings_.mail_out_dir + "VTXWeb202612041414191.msg";
  test::write_text(unsent, "unsent 1");
  test::write_text(settings_.mail_out_dir + "VTXWeb202612041414193.msg", "unsent 3");
  EXPECT_EQ(write_mail_file(settings_, "ops@x.com", "new"), settings_.mail_out_dir + "VTXWeb202612041414194.msg");
  EXPECT_EQ(test::read_text(unsent), "unsent 1");
  EXPECT_EQ(test::read_text(settings_.mail_out_dir + "VTXWeb202612041414193.msg"), "unsent 3");
  EXPECT_TRUE(test::read_text(settings_.mail_out_dir + "VTXWeb202612041414194.msg").ends_with("\r\nnew\r\n"));
  EXPECT_THAT(test::files_in(settings_.mail_out_dir), ::testing::SizeIs(3));

  // The names tried for one file are bounded: when all are taken, the file error, and
  // nothing of the new file is left behind.
  restart_name_sequence(0);
  for (int sequence = 1; sequence <= 1001; ++sequence)
    test::write_text(settings_.mail_out_dir + "VTXWeb20261204141419" + std::to_string(sequence) + ".msg", "unsent");
  try {
    write_mail_file(settings_, "ops@x.com", "new");
    ADD_FAILURE() << "a file was written";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 58);
  }
  EXPECT_THAT(test::files_in(settings_.mail_out_dir), ::testing::SizeIs(1001));
  EXPECT_EQ(test::read_text(unsent), "unsent");
}

TEST_F(MailFile, FileCutShortLeavesNoMessageFile) {
  std::optional<RuntimeError> failure;
  {
    test::FileSizeLimit limit(1000);  // nothing may print while it holds
    try {
      write_mail_file(settings_, "ops@x.com", std::string(100000, 'x'));
    } catch (const RuntimeError& e) {
      failure = e;
    }
  }
  ASSERT_TRUE(failure);
  EXPECT_THAT(failure->number(), ::testing::AllOf(::testing::Ge(52), ::testing::Le(76)));
  EXPECT_THAT(test::files_in(settings_.mail_out_dir), ::testing::IsEmpty());
}

}  // namespace
}  // namespace dexweb
