#pragma once
// The expansion of a notification template. Placeholders are replaced one kind after
// another in a fixed order, each everywhere and without regard to case, so that text
// brought in by one kind (a message holding "%Date%") is expanded by the later kinds. Time
// values are ServerNow, read afresh for each kind.

#include <cstddef>
#include <optional>
#include <string>

#include "util/datetime.h"

namespace dexweb {

// Only this many characters of a template file are used.
inline constexpr std::size_t kTemplateMaxChars = 5412;

// The recipient's row of the users table.
struct UserColumns {
  std::string full_name, extra1, extra2, extra3, extra4;
};

struct NotificationFields {
  std::string message;
  std::string ErrorMessage;
  std::string Sender;
  std::string Recipient;
  // Without a row, "%FullName%" and "%Comment1%" to "%Comment4%" stay as they are.
  std::optional<UserColumns> user;
  std::string NotifyAddress;
};

// Every placeholder but "%NotifyAddress%", in order: "%Message%", "%ErrorMessage%",
// "%Sender%", "%Recipient%", "%OriginalRecipient%", "%LastRecipient%", "%FullName%",
// "%Comment1%" to "%Comment4%", "%Date%", "%Time%", "%RequestedDate%", "%RequestedTime%",
// "%MilitaryTime%", "%RequestedMilitaryTime%", "%TimeZone%", "%ShortTimeZone%", and a tab
// (seven blanks).
std::string expand_template(std::string text, const NotificationFields& fields);
// "%NotifyAddress%", the last placeholder, replaced by fields.NotifyAddress.
std::string expand_notify_address(std::string text, const NotificationFields& fields);

// m/d/yyyy, e.g. 12/4/2026.
std::string short_date(DateTime t);
// hh:nn AM or hh:nn PM, e.g. 07:14 PM.
std::string twelve_hour_time(DateTime t);
// hhnn on the 24-hour clock, e.g. 1914.
std::string military_time(DateTime t);
// The capital letters A to Z of a zone name, e.g. EDT of "EDT" or of "Eastern Daylight Time".
std::string zone_capitals(std::string_view zone);
// The first character of a zone name.
std::string zone_initial(std::string_view zone);

}  // namespace dexweb
