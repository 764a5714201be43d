#include "intake/recipient_items.h"

#include "util/text.h"

namespace dexweb {

std::string collapse_spaces(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  for (char c : in)
    if (c != ' ' || out.empty() || out.back() != ' ') out += c;
  return out;
}

std::vector<std::string> split_recipient_list(std::string_view list, std::size_t item_limit) {
  std::string spaced(list);
  for (char& c : spaced)
    if (c == ';' || c == ',' || c == '\t') c = ' ';
  const std::string all = text::trim(collapse_spaces(spaced));
  // Collapsed and trimmed, so every space separates two non-empty items.
  std::string_view rest = all;
  std::vector<std::string> items;
  for (std::size_t space = rest.find(' '); space != std::string_view::npos && items.size() < kMaxSeparatedItems;
       space = rest.find(' ')) {
    items.push_back(text::left(rest.substr(0, space), item_limit));
    rest.remove_prefix(space + 1);
  }
  if (!rest.empty()) items.push_back(text::left(rest, item_limit));
  return items;
}

}  // namespace dexweb
