#include "notify/template_expansion.h"

#include <gtest/gtest.h>

#include "notify/notify_fixture.h"

namespace dexweb {
namespace {

using test::ScopedTimeZone;
using test::utc;

class TemplateExpansion : public test::NotifyTest {
 protected:
  NotificationFields fields_{"on %date%\tat %MilitaryTime%", "Recipient not found", "jane", "x%Message%",
                             std::nullopt, {}};
};

TEST_F(TemplateExpansion, AnyCaseInOrderSoEarlierValuesAreExpandedByLaterKinds) {
  EXPECT_EQ(expand_template("%message%|%MESSAGE%|%ErrorMessage%|%SENDER%|%recipient%|%LastRecipient%", fields_),
            "on 12/4/2026       at 1414|on 12/4/2026       at 1414|Recipient not found|jane|x%Message%|x%Message%");
}

TEST_F(TemplateExpansion, TimeValuesAreServerNow) {
  globals().TimeOffset = std::chrono::hours{10};  // 14:14 local becomes 00:14 of the next day
  EXPECT_EQ(expand_template("%RequestedDate% %Time% %RequestedTime% %RequestedMilitaryTime%", fields_),
            "12/5/2026 12:14 AM 12:14 AM 0014");
  EXPECT_EQ(twelve_hour_time(make_datetime(2026, 1, 1, 12, 30)), "12:30 PM");
  EXPECT_EQ(twelve_hour_time(make_datetime(2026, 1, 1, 19, 4)), "07:04 PM");
}

TEST_F(TemplateExpansion, ZoneNameInEffect) {
  EXPECT_EQ(expand_template("%TimeZone%/%ShortTimeZone%", fields_), "EST/E");
  clock_.set(utc(2026, 7, 1, 12, 0, 0));
  EXPECT_EQ(expand_template("%TimeZone%/%ShortTimeZone%", fields_), "EDT/E");
  EXPECT_EQ(zone_capitals("Eastern Daylight Time"), "EDT");
  ScopedTimeZone no_daylight_time("JST-9");
  EXPECT_EQ(expand_template("[%TimeZone%][%ShortTimeZone%]", fields_), "[][]");
}

}  // namespace
}  // namespace dexweb
