#include "notify/template_expansion.h"

#include <gtest/gtest.h>

#include "notify/notify_fixture.h"
#include "platform/clock.h"

namespace dexweb {
namespace {

using test::ScopedTimeZone;
using test::utc;

class TemplateExpansion : public test::NotifyTest {
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

TEST_F(TemplateExpansion, TimeValuesAreServerNow) {
  platform::set_server_time_offset(std::chrono::hours{10});  // 14:14 local becomes 00:14 of the next day
  EXPECT_EQ(expand("%RequestedDate% %Time% %RequestedTime% %RequestedMilitaryTime%"),
            "12/5/2026 12:14 AM 12:14 AM 0014");
  EXPECT_EQ(twelve_hour_time(make_datetime(2026, 1, 1, 12, 30)), "12:30 PM");
  EXPECT_EQ(twelve_hour_time(make_datetime(2026, 1, 1, 19, 4)), "07:04 PM");
}

TEST_F(TemplateExpansion, ZoneNameInEffect) {
  EXPECT_EQ(expand("%TimeZone%/%ShortTimeZone%"), "EST/E");
  clock_.set(utc(2026, 7, 1, 12, 0, 0));
  EXPECT_EQ(expand("%TimeZone%/%ShortTimeZone%"), "EDT/E");
  EXPECT_EQ(zone_capitals("Eastern Daylight Time"), "EDT");
  ScopedTimeZone no_daylight_time("JST-9");
  EXPECT_EQ(expand("[%TimeZone%][%ShortTimeZone%]"), "[][]");
}

}  // namespace
}  // namespace dexweb
