#include <algorithm>

#include "util/string_builder.h"
#include "util/text.h"

namespace dexweb {
namespace {

using Chars = std::u32string_view;

bool same_char(char32_t a, char32_t b, bool ignore_case) {
  return a == b || (ignore_case && text::fold(a) == text::fold(b));
}

bool same_chars(Chars a, Chars b, bool ignore_case) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [ignore_case](char32_t x, char32_t y) { return same_char(x, y, ignore_case); });
}

// 0-based index of the first occurrence of needle at or after from, or npos.
std::size_t search(Chars hay, Chars needle, std::size_t from, bool ignore_case) {
  if (from > hay.size()) return Chars::npos;
  auto hit = std::search(hay.begin() + static_cast<std::ptrdiff_t>(from), hay.end(), needle.begin(),
                         needle.end(),
                         [ignore_case](char32_t x, char32_t y) { return same_char(x, y, ignore_case); });
  return hit == hay.end() ? Chars::npos : static_cast<std::size_t>(hit - hay.begin());
}

bool starts_with(Chars s, Chars prefix, bool ignore_case) {
  return s.size() >= prefix.size() && same_chars(s.substr(0, prefix.size()), prefix, ignore_case);
}

bool ends_with(Chars s, Chars suffix, bool ignore_case) {
  return s.size() >= suffix.size() && same_chars(s.substr(s.size() - suffix.size()), suffix, ignore_case);
}

}  // namespace

long StringBuilder::Find(long start_pos, std::string_view search_text, std::string_view delimiter,
                            int compare_method) const {
  return find_chars(start_pos, text::to_u32(search_text), text::to_u32(delimiter),
                    compare_method == kTextCompare);
}

long StringBuilder::find_chars(long start_pos, Chars search_chars, Chars delimiter,
                                  bool ignore_case) const {
  if (start_pos < 1 || start_pos > Length() + 1 || search_chars.empty() || text_.empty()) return 0;
  if (!delimiter.empty()) return find_token(start_pos, search_chars, delimiter, ignore_case);
  std::size_t hit = search(text_, search_chars, static_cast<std::size_t>(start_pos - 1), ignore_case);
  return hit == Chars::npos ? 0 : static_cast<long>(hit) + 1;
}

// The token may stand first (only when the search starts at 1), between two delimiters, or
// last (only when it lies at or after start_pos, so that a caller stepping through the
// tokens comes to an end).
long StringBuilder::find_token(long start_pos, Chars token, Chars delimiter, bool ignore_case) const {
  Chars all = text_;
  std::u32string first = std::u32string(token).append(delimiter);
  if (start_pos == 1 && (same_chars(all, token, ignore_case) || starts_with(all, first, ignore_case)))
    return 1;

  std::u32string inner = std::u32string(delimiter).append(token).append(delimiter);
  std::size_t hit = search(all, inner, static_cast<std::size_t>(start_pos - 1), ignore_case);
  if (hit != Chars::npos) return static_cast<long>(hit + delimiter.size()) + 1;

  long last = Length() - static_cast<long>(token.size()) + 1;
  std::u32string tail = std::u32string(delimiter).append(token);
  return last >= start_pos && ends_with(all, tail, ignore_case) ? last : 0;
}

void StringBuilder::SearchAndReplace(std::string_view search_text, std::string_view replacement,
                                        int compare_method) {
  if (search_text.empty()) return;
  std::u32string from = text::to_u32(search_text), to = text::to_u32(replacement);
  bool ignore_case = compare_method == kTextCompare;
  for (long p = find_chars(1, from, {}, ignore_case); p > 0;
       p = find_chars(p + static_cast<long>(to.size()), from, {}, ignore_case)) {
    remove_chars(static_cast<std::size_t>(p - 1), from.size());
    insert_chars(static_cast<std::size_t>(p - 1), to);
  }
}

}  // namespace dexweb
