#pragma once
// The expansion of a notification template: one pass, left to right, over the template
// text. Each placeholder found there (its name matched without regard to case) is replaced
// by its value, and values are never searched for placeholders themselves: a message
// holding "%FullName%" or "%Date%" arrives as typed, so a submitter cannot bring an
// account's columns into a mail sent to an address of the submitter's choosing. Tabs, of
// the template and of the values alike, become seven blanks. A value placed into the
// template's header lines (all text before its first empty line, the first CR LF CR LF; the
// whole template when there is none) is made one header line (header_value). Time values
// are server_now, read for each placeholder.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
  std::string error_message;
  std::string sender;
  std::string recipient;
  // Without a row, "%FullName%" and "%Comment1%" to "%Comment4%" stay as they are.
  std::optional<UserColumns> user;
};

// A template expanded alike for every address it goes to.
class ExpandedTemplate {
 public:
  // The text with address, made one header line with its tabs as seven blanks, at each
  // place where the template held "%NotifyAddress%".
  std::string for_address(std::string_view address) const;

 private:
  friend ExpandedTemplate expand_template(std::string_view text, const NotificationFields& fields);
  // The text between the places of "%NotifyAddress%".
  std::vector<std::string> pieces_ = std::vector<std::string>(1);
};

// The placeholders: "%Message%", "%ErrorMessage%", "%Sender%", "%Recipient%",
// "%OriginalRecipient%", "%LastRecipient%", "%FullName%", "%Comment1%" to "%Comment4%",
// "%Date%", "%Time%", "%RequestedDate%", "%RequestedTime%", "%MilitaryTime%",
// "%RequestedMilitaryTime%", "%TimeZone%", "%ShortTimeZone%"; "%NotifyAddress%" is filled
// by ExpandedTemplate::for_address.
ExpandedTemplate expand_template(std::string_view text, const NotificationFields& fields);

// hh:nn AM or hh:nn PM, e.g. 07:14 PM.
std::string twelve_hour_time(DateTime t);
// The capital letters A to Z of a zone name, e.g. EDT of "EDT" or of "Eastern Daylight Time".
std::string zone_capitals(std::string_view zone);

}  // namespace dexweb
