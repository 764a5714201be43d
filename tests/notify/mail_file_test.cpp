#include "notify/internal/mail_file.h"

#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "data/unique_ids.h"
#include "notify/notify_fixture.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

using test::line_of;

class MailFileTest : public test::NotifyTest {
 protected:
  std::string write() { return test::read_text(write_mail_file(settings_, "ops@x.com", "body")); }
};

TEST_F(MailFileTest, FromLineAndDomain) {
  settings_.postmaster = " pm@example.com ";
  EXPECT_EQ(line_of(write(), 4), "From:  pm@example.com ");
  settings_.postmaster = "   ";
  EXPECT_EQ(line_of(write(), 4), "From: velotrax@example.com");
  settings_.postmaster = "";
  settings_.domain = "";
  std::string content = write();
  EXPECT_EQ(line_of(content, 4), "From: velotrax@");
  EXPECT_TRUE(line_of(content, 0).ends_with("@>"));
}

TEST_F(MailFileTest, TwoFilesInOneSecondHaveTheirOwnNamesAndMessageIds) {
  std::string first = write_mail_file(settings_, "a@x.com", "1");
  std::string second = write_mail_file(settings_, "b@x.com", "2");
  EXPECT_EQ(first, settings_.mail_out_dir + "VTXWeb202612041414191.msg");
  EXPECT_EQ(second, settings_.mail_out_dir + "VTXWeb202612041414193.msg");
  EXPECT_EQ(line_of(test::read_text(first), 0), "Message-ID: <VTXWeb202612041414192@example.com>");
  EXPECT_EQ(line_of(test::read_text(second), 0), "Message-ID: <VTXWeb202612041414194@example.com>");
  // For the module's account and its group only.
  struct stat st {};
  ASSERT_EQ(::stat(first.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0137, 0u);
}

TEST_F(MailFileTest, HeaderValuesStayOneLineEach) {
  settings_.postmaster = "pm@example.com\r\nBcc: a@target.example";
  settings_.domain = "example.com\nBcc: b@target.example";
  EXPECT_EQ(test::read_text(write_mail_file(settings_, "ops@x.com\x01\x1b\nBcc: c@target.example", "body")),
            "Message-ID: <VTXWeb202612041414192@example.com>\r\n"
            "Date: Fri, 04 Dec 2026 19:14:19 +0000\r\n"
            "X-WRTo: ops@x.com  \r\nTo: ops@x.com  \r\nFrom: pm@example.com\r\nbody\r\n");
  settings_.postmaster = "";
  EXPECT_EQ(line_of(write(), 4), "From: velotrax@example.com");
}

TEST_F(MailFileTest, NeverReplacesAFileTheMailModuleHasNotSentYet) {
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

TEST_F(MailFileTest, FileCutShortLeavesNoMessageFile) {
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
