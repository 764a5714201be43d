#pragma once
// The notify list of a notification: the addresses it goes to, one per item.

#include <string>
#include <string_view>
#include <vector>

namespace dexweb {

// The items of a list's text, in order. Items are separated by commas and line ends (CR LF,
// LF or CR). Leading and trailing blanks of an item are dropped. An item that begins with a
// double quote runs to the next double quote, commas and line ends included, and is taken
// without the quotes; anything after the closing quote up to the next separator is
// ignored. Empty items (an empty line, "") are left out.
std::vector<std::string> parse_notify_list(std::string_view text);

// After trimming blanks: at least 6 characters, the first "@" not in first place, and a
// "." somewhere after that "@".
bool is_mail_address(std::string_view text);

// The address an item stands for: the item "%Sender%" (exactly so) stands for the sender's
// first element (a sender field naming several, separated by commas, semicolons or blanks,
// counts by its first), with "@" + domain appended unless it is a mail address; any other
// item for itself. Only the text before the first line break of the item or sender counts,
// its other control characters made blanks (header_value), so that the address stays one
// header line. Empty text for "%Sender%" when there is no sender.
std::string notify_address(std::string_view item, std::string_view sender, std::string_view domain);

}  // namespace dexweb
