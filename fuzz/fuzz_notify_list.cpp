// A notify list file as the notifications read it, and the address each item stands for.

#include "fuzz_support.h"
#include "notify/notifications.h"
#include "util/text.h"

namespace {

using dexweb::fuzz::require;

// No CR, LF or other control character (C0, DEL, C1): the address is one header line.
bool one_line(std::string_view s) {
  for (char32_t cp : dexweb::text::to_u32(s))
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return false;
  return true;
}

}  // namespace

void dexweb::fuzz::fuzz_input(std::string_view input) {
  const std::string text = dexweb::text::decode_bytes(input);
  const auto items = dexweb::parse_notify_list(text);

  std::size_t separators = 0;
  for (char c : text) separators += (c == ',' || c == '\r' || c == '\n') ? 1 : 0;
  require(items.size() <= separators + 1, "no more items than separators allow");

  for (const std::string& item : items) {
    require(!item.empty(), "no item is empty");
    // Each item also serves as the sender, as a mail address or not.
    const std::string address = dexweb::notify_address(item, item, "example.com");
    require(one_line(address), "an address is one line");
    const std::string sender_address = dexweb::notify_address("%Sender%", item, "example.com");
    require(one_line(sender_address), "the sender's address is one line");
    if (!sender_address.empty() && !dexweb::is_mail_address(dexweb::text::trim(item)))
      require(sender_address.ends_with("@example.com"), "a sender that is no address gets the domain");
  }
}
