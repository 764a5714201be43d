// Notifications: who is told (the lists), what the mail files say (the templates and the
// user row) and how they are written. A gateway for each test: a real SQLite database, a
// program folder for lists and templates, an outgoing mail folder, US Eastern time and a
// manual clock at Friday 2026-12-04 19:14:19 UTC (14:14:19 local).
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/registry.h"
#include "data/db_object.h"
#include "data/dialect.h"
#include "data/test_databases.h"
#include "data/unique_ids.h"
#include "logging/error_policy.h"
#include "logging/reporter.h"
#include "notify/internal/notification_parts.h"
#include "notify/notifications.h"
#include "notify/template_expansion.h"
#include "platform/clock.h"
#include "support/temp_dir.h"
#include "util/runtime_error.h"

namespace dexweb::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

// TZ for one test; the C library re-reads it on entry and on exit.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& zone) {
    if (const char* was = ::getenv("TZ")) old_ = was;
    ::setenv("TZ", zone.c_str(), 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (old_) ::setenv("TZ", old_->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> old_;
};

// Caps the size of files this process writes: a write past it fails with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : old_handler_(::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit{bytes, saved_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, old_handler_);
  }

 private:
  sighandler_t old_handler_;
  rlimit saved_{};
};

platform::TimePoint utc(int y, unsigned mo, unsigned d, int h, int mi, int s) {
  using namespace std::chrono;
  return sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

// Line n (0-based) of a mail file's text.
std::string line_of(const std::string& content, int n) {
  std::size_t pos = 0;
  for (int i = 0; i < n; ++i) pos = content.find("\r\n", pos) + 2;
  return content.substr(pos, content.find("\r\n", pos) - pos);
}

class NotifyTest : public ::testing::Test {
 protected:
  NotifyTest() {
    settings_.dexmail_enabled = true;
    settings_.domain = "example.com";
    settings_.postmaster = "postmaster@example.com";
    settings_.mail_out_dir = database_->dir() + "MailOut/";
    std::filesystem::create_directory(settings_.mail_out_dir);
    restart_name_sequence(0);  // names count from 1, whatever ran before in this process
  }
  ~NotifyTest() override { reset_process_state(); }

  // The contents of the ".msg" files in the order they were named ("VTXWeb", 14 digits,
  // then the sequence number).
  std::vector<std::string> mail() const {
    std::vector<std::string> names;
    for (const std::string& name : files_in(settings_.mail_out_dir))
      if (name.ends_with(".msg")) names.push_back(name);
    auto sequence = [](const std::string& name) { return std::stol(name.substr(20)); };
    std::sort(names.begin(), names.end(), [&](auto& a, auto& b) { return sequence(a) < sequence(b); });
    std::vector<std::string> contents;
    for (const std::string& name : names) contents.push_back(read_text(settings_.mail_out_dir + name));
    return contents;
  }

  std::unique_ptr<TestDatabase> database_ = make_sqlite_database();  // first: it resets the globals
  TempDir prog_;
  ScopedTimeZone zone_{"EST5EDT,M3.2.0,M11.1.0"};
  platform::ManualClock clock_{utc(2026, 12, 4, 19, 14, 19)};
  platform::ScopedClock scoped_clock_{clock_};
  DBObject db_{database_->settings()};
  GatewaySettings settings_;
  RegistrySettings registry_;
  ErrorPolicy policy_;
  Reporter reporter_{registry_, &policy_};
  ReporterInstall reporter_install_{reporter_};
  NotifyContext ctx_{db_, settings_, policy_, prog_.dir()};
};

// ---- the lists ----

TEST(NotifyList, SeparatorsBlanksQuotesAndEmptyItems) {
  EXPECT_THAT(parse_notify_list("  a@x.com  ,b@x.com\r\n\r\n  \nc@x.com\rd@x.com,,\"\"\r\n"
                                " \"Smith, Ann \r\n<e@x.com>\" ignored,f@x.com"),
              ElementsAre("a@x.com", "b@x.com", "c@x.com", "d@x.com", "Smith, Ann \r\n<e@x.com>", "f@x.com"));
  EXPECT_THAT(parse_notify_list("a@x.com,\"b@x.com, c"), ElementsAre("a@x.com", "b@x.com, c"));
}

// An item of the list is an address; "%Sender%" is the sender field's first element, made an
// address at the domain where it is none, and never more than one header line.
TEST(NotifyList, AddressesOfTheItems) {
  struct Case {
    const char *item, *sender, *address;
  };
  for (const Case& c : {Case{"%Sender%", "jane", "jane@example.com"},             // no "@"
                        Case{"%Sender%", "a@b.c", "a@b.c@example.com"},           // shorter than 6
                        Case{"%Sender%", "jane@host", "jane@host@example.com"},   // no dot after "@"
                        Case{"%Sender%", "@host.org", "@host.org@example.com"},   // "@" first
                        Case{"%Sender%", " j@h.io ", "j@h.io"},
                        Case{"%Sender%", "  ", ""},  // nobody to tell
                        Case{"%Sender%", "a@x.example,b@y.example,c@z.example", "a@x.example"},
                        Case{"%Sender%", " ;jane bob@y.example", "jane@example.com"},
                        Case{"%sender%", "jane", "%sender%"},
                        Case{"%Sender%", "eve@x.org\nBcc: all@x.org", "eve@x.org"},
                        Case{"%Sender%", "eve\rBcc: all@x.org", "eve@example.com"},
                        Case{"a@x.com\r\nb", "jane", "a@x.com"}})
    EXPECT_EQ(notify_address(c.item, c.sender, "example.com"), c.address) << c.item << " " << c.sender;
}

// ---- templates ----

class TemplateExpansion : public NotifyTest {
 protected:
  std::string expand(std::string_view text, std::string_view address = "ops@example.com") {
    return expand_template(text, fields_).for_address(address);
  }

  NotificationFields fields_{"on %date%\tat %MilitaryTime%", "Recipient not found", "jane", "x%Message%",
                             UserColumns{"Ann Smith", "secret", "", "", ""}};
};

TEST_F(TemplateExpansion, PlaceholdersInAnyCaseOnceLeftToRightAndValuesAsTyped) {
  EXPECT_EQ(expand("\r\n\r\n%message%|%MESSAGE%|%ErrorMessage%|%SENDER%|%recipient%|%LastRecipient%|%%Date%"),
            "\r\n\r\non %date%       at %MilitaryTime%|on %date%       at %MilitaryTime%|Recipient not found|"
            "jane|x%Message%|x%Message%|%12/4/2026");
  // A submitter's text cannot pull the account's columns or the notified address.
  fields_.message = "%FullName% %Comment1% %NotifyAddress%";
  fields_.sender = "%fullname%";
  EXPECT_EQ(expand("Subject: for %FullName% from %Sender%\r\n\r\n%Message% to %NotifyAddress%"),
            "Subject: for Ann Smith from %fullname%\r\n\r\n%FullName% %Comment1% %NotifyAddress% to ops@example.com");
  fields_.user.reset();
  EXPECT_EQ(expand("%FullName%/%comment1%/%Comment5%\t"), "%FullName%/%comment1%/%Comment5%       ");
}

TEST_F(TemplateExpansion, ValuesInTheHeaderLinesStayOneLine) {
  fields_.message = "line one\r\nBcc: victim@target.example\nline three";
  fields_.sender = "eve@evil.example\nBcc: victim@target.example";
  fields_.recipient = "bob\x0b\x7f\xc2\x85x\tz";
  const std::string body = "line one\r\nBcc: victim@target.example\nline three";
  EXPECT_EQ(expand("Subject: %Message% from %Sender%\r\nX-For: %Recipient%\r\n\r\n%Message%|%Sender%"),
            "Subject: line one from eve@evil.example\r\nX-For: bob   x       z\r\n\r\n" + body +
                "|eve@evil.example\nBcc: victim@target.example");
  // Without an empty line the whole template follows the header lines of the file.
  EXPECT_EQ(expand("Reason: %Message%\r\nTo %NotifyAddress%", "a@x.com\r\nBcc: b@x.com"),
            "Reason: line one\r\nTo a@x.com");
}

TEST_F(TemplateExpansion, TimeValuesAreServerNowInTheZoneInEffect) {
  platform::set_server_time_offset(std::chrono::hours{10});  // 14:14 local becomes 00:14 of the next day
  EXPECT_EQ(expand("%RequestedDate% %Time% %RequestedTime% %RequestedMilitaryTime% %TimeZone%/%ShortTimeZone%"),
            "12/5/2026 12:14 AM 12:14 AM 0014 EST/E");
  EXPECT_EQ(twelve_hour_time(make_datetime(2026, 1, 1, 12, 30)), "12:30 PM");
  EXPECT_EQ(twelve_hour_time(make_datetime(2026, 1, 1, 19, 4)), "07:04 PM");
  clock_.set(utc(2026, 7, 1, 12, 0, 0));
  EXPECT_EQ(expand("%TimeZone%/%ShortTimeZone%"), "EDT/E");
  EXPECT_EQ(zone_capitals("Eastern Daylight Time"), "EDT");
  ScopedTimeZone no_daylight_time("JST-9");
  EXPECT_EQ(expand("[%TimeZone%][%ShortTimeZone%]"), "[][]");
}

// ---- the user row ----

TEST(UserRowQuery, SqlServerTextAsSent) {
  EXPECT_EQ(user_row_query(dialect_for(DatabaseKind::SqlServer), "o'brien"),
            "SELECT TOP 1 [full_name], [extra1], [extra2], [extra3], [extra4] FROM [users] WITH (NOLOCK)"
            " WHERE ([user] = 'o''brien' )");
}

class UserRow : public EngineTest {};
DEXWEB_INSTANTIATE_ENGINES(UserRow);

TEST_P(UserRow, FoundWhateverTheCaseOfTheName) {
  database().exec("INSERT INTO users (\"user\", full_name, extra1, extra4) VALUES ('NoWeb', 'Ann Smith', 'one', NULL)");
  DBObject db(database().settings());
  for (const std::string name : {"NOWEB", "noweb", "NoWeb"}) {
    auto row = find_user_row(db, name);
    ASSERT_TRUE(row) << name;
    EXPECT_EQ(row->full_name + "|" + row->extra1 + "|" + row->extra4, "Ann Smith|one|") << name;
  }
  EXPECT_FALSE(find_user_row(db, "NoWe"));
}

// ---- notifications and mail files ----

class Notifications : public NotifyTest {
 protected:
  Notifications() {
    registry_.Log_Dir = logs_.dir();
  }

  void failure_files(const std::string& list, const std::string& mail_template) {
    write_text(prog_.file("failurenotifylist.txt"), list);
    write_text(prog_.file("failure.mtp"), mail_template);
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

  TempDir logs_;
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
  EXPECT_THAT(files_in(settings_.mail_out_dir),
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
  EXPECT_THAT(files_in(settings_.mail_out_dir), IsEmpty());
}

TEST_F(Notifications, OutcomeChoosesThePairWhateverTheCaseOfTheNames) {
  write_text(prog_.file("FailureNotifyList.TXT"), "fail@example.com");
  write_text(prog_.file("FAILURE.MTP"), "failed");
  write_text(prog_.file("successnotifylist.txt"), "ok@example.com");
  write_text(prog_.file("Success.mtp"), "delivered");
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
  auto files = mail();
  ASSERT_THAT(files, SizeIs(2));
  EXPECT_EQ(body(files[0]), "Ann O'Brien||two||four");
  EXPECT_EQ(body(files[1]), text);
}

// A file that could not be written goes through the rounds of file errors and leaves nothing
// behind.
TEST_F(Notifications, RetryResumesAtTheFailedAddress) {
  // The second file is too large until the limit is lifted during the retry waits; the
  // first one must not be written again.
  const std::string long_address(3000, 'x');
  failure_files("ops@example.com\r\n" + long_address, "for %NotifyAddress%");
  db_.OpenDb();  // before the limit holds
  std::optional<FileSizeLimit> limit(std::in_place, 2000);
  clock_.at(std::chrono::seconds(30), [&] { limit.reset(); });  // after the first round
  refuse();

  EXPECT_GT(policy_.retry_count(), 0);
  const std::string log = read_text(logs_.file("VTXWeb.log"));
  EXPECT_NE(log.find("  Warning. Unable to access file/directory: Procedure: SendNotifications. Retrying..."), std::string::npos) << log;
  EXPECT_THAT(files_in(settings_.mail_out_dir), SizeIs(2));
  EXPECT_THAT(mail(), ElementsAre(::testing::EndsWith("for ops@example.com\r\n"),
                                  ::testing::EndsWith("for " + long_address + "\r\n")));
}

// The mail files themselves: header lines, names that never replace an unsent file, and
// nothing left of a file that could not be written whole.
class MailFile : public NotifyTest {
 protected:
  std::string write() { return read_text(write_mail_file(settings_, "ops@x.com", "body")); }
};

TEST_F(MailFile, HeaderValuesStayOneLineEachAndTheSenderFallsBackToTheDomain) {
  settings_.postmaster = "pm@example.com\r\nBcc: a@target.example";
  settings_.domain = "example.com\nBcc: b@target.example";
  const std::string path = write_mail_file(settings_, "ops@x.com\x01\x1b\nBcc: c@target.example", "body");
  EXPECT_EQ(read_text(path),
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
  write_text(unsent, "unsent 1");
  write_text(settings_.mail_out_dir + "VTXWeb202612041414193.msg", "unsent 3");
  EXPECT_EQ(write_mail_file(settings_, "ops@x.com", "new"), settings_.mail_out_dir + "VTXWeb202612041414194.msg");
  EXPECT_EQ(read_text(unsent), "unsent 1");
  EXPECT_EQ(read_text(settings_.mail_out_dir + "VTXWeb202612041414193.msg"), "unsent 3");
  EXPECT_TRUE(read_text(settings_.mail_out_dir + "VTXWeb202612041414194.msg").ends_with("\r\nnew\r\n"));
  EXPECT_THAT(files_in(settings_.mail_out_dir), ::testing::SizeIs(3));

  // The names tried for one file are bounded: when all are taken, the file error, and
  // nothing of the new file is left behind.
  restart_name_sequence(0);
  for (int sequence = 1; sequence <= 1001; ++sequence)
    write_text(settings_.mail_out_dir + "VTXWeb20261204141419" + std::to_string(sequence) + ".msg", "unsent");
  try {
    write_mail_file(settings_, "ops@x.com", "new");
    ADD_FAILURE() << "a file was written";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 58);
  }
  EXPECT_THAT(files_in(settings_.mail_out_dir), ::testing::SizeIs(1001));
  EXPECT_EQ(read_text(unsent), "unsent");
}

}  // namespace
}  // namespace dexweb::test
