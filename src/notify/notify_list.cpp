#include "notify/notify_list.h"

#include <algorithm>

#include "notify/internal/header_value.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::string_view kSeparators = ",\r\n";
constexpr std::string_view kSenderItem = "%Sender%";

std::size_t next_separator(std::string_view text, std::size_t from) {
  std::size_t end = text.find_first_of(kSeparators, from);
  return end == std::string_view::npos ? text.size() : end;
}

// One item starting at pos (leading blanks already skipped); pos moves to its separator.
std::string read_item(std::string_view text, std::size_t& pos) {
  if (text[pos] != '"') {
    std::size_t end = next_separator(text, pos);
    std::string item = text::rtrim(text.substr(pos, end - pos));
    pos = end;
    return item;
  }
  std::size_t close = text.find('"', pos + 1);
  if (close == std::string_view::npos) close = text.size();
  std::string item(text.substr(pos + 1, close - pos - 1));
  pos = next_separator(text, std::min(close + 1, text.size()));
  return item;
}

}  // namespace

std::vector<std::string> parse_notify_list(std::string_view text) {
  std::vector<std::string> items;
  std::size_t pos = 0;
  while (pos < text.size()) {
    pos = std::min(text.find_first_not_of(' ', pos), text.size());
    if (pos == text.size()) break;
    std::string item = read_item(text, pos);
    if (!item.empty()) items.push_back(std::move(item));
    ++pos;  // past the separator; the empty item between CR and LF is left out
  }
  return items;
}

bool is_mail_address(std::string_view text) {
  std::string t = text::trim(text);
  if (text::length(t) < 6) return false;
  std::size_t at = t.find('@');
  if (at == std::string::npos || at == 0) return false;
  return t.find('.', at + 1) != std::string::npos;
}

// The first element of a sender field that names several: a notice goes to one address at
// most, so that the public form is no mail relay.
std::string_view first_sender(std::string_view sender) {
  constexpr std::string_view kListSeparators = ",; \t";
  const std::size_t start = sender.find_first_not_of(kListSeparators);
  if (start == std::string_view::npos) return {};
  const std::size_t end = sender.find_first_of(kListSeparators, start);
  return sender.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

std::string notify_address(std::string_view item, std::string_view sender, std::string_view domain) {
  if (item != kSenderItem) return header_value(item);
  std::string address = text::trim(header_value(first_sender(sender)));
  // Without a sender there is nobody to tell: "@domain" would only bounce.
  if (address.empty()) return {};
  if (!is_mail_address(address)) address += "@" + std::string(domain);
  return address;
}

}  // namespace dexweb
