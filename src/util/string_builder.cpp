#include "util/string_builder.h"

#include <algorithm>

#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::size_t kInitialBytes = 16384;
constexpr std::size_t kTerminatorBytes = 2;
constexpr std::u32string_view kCrLf = U"\r\n";

std::size_t round_up(std::size_t value, std::size_t multiple) {
  std::size_t rounded = value / multiple * multiple;
  return rounded < value ? rounded + multiple : rounded;
}

std::size_t bytes_of(std::u32string_view chars) { return chars.size() * 2; }

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

StringBuilder::StringBuilder(std::size_t page_size) {
  if (page_size == 0) throw RuntimeError(err::kInvalidProcedureCall, "Cannot obtain page size");
  initial_size_ = round_up(kInitialBytes, page_size);
  resize(initial_size_);
}

void StringBuilder::resize(std::size_t bytes) {
  if (bytes < capacity_) {
    std::u32string smaller;
    smaller.reserve(bytes / 2);
    smaller.assign(text_);
    text_.swap(smaller);
  } else {
    text_.reserve(bytes / 2);
  }
  capacity_ = bytes;
}

void StringBuilder::grow_for(std::size_t bytes_needed, std::size_t new_bytes) {
  if (bytes_needed <= capacity_) return;
  auto grown = text::round_half_even(static_cast<double>(capacity_) * 1.6 + static_cast<double>(new_bytes));
  resize(round_up(static_cast<std::size_t>(grown), initial_size_));
}

void StringBuilder::record(Change change, std::size_t index, std::size_t length, std::u32string saved) {
  if (undoing_) return;
  last_change_ = change;
  change_index_ = index;
  change_length_ = length;
  saved_ = std::move(saved);
}

void StringBuilder::append_chars(std::u32string_view chars, std::u32string_view line_end) {
  grow_for(used_bytes() + bytes_of(chars) + bytes_of(line_end) + kTerminatorBytes, bytes_of(chars));
  record(Change::kAppend, text_.size(), 0);
  text_.append(chars).append(line_end);
}

void StringBuilder::insert_chars(std::size_t index, std::u32string_view chars) {
  if (chars.empty() || index > text_.size()) return;
  grow_for(used_bytes() + bytes_of(chars) + kTerminatorBytes, bytes_of(chars));
  text_.insert(index, chars);
  record(Change::kInsert, index, chars.size());
}

void StringBuilder::overwrite_chars(std::size_t index, std::u32string_view chars) {
  if (chars.empty() || index > text_.size()) return;
  grow_for((index + chars.size()) * 2 + kTerminatorBytes, bytes_of(chars));
  std::size_t covered = std::min(chars.size(), text_.size() - index);
  record(Change::kOverwrite, index, 0, text_.substr(index, covered));
  text_.replace(index, covered, chars);
}

void StringBuilder::remove_chars(std::size_t index, std::size_t count) {
  if (index >= text_.size() || count == 0) return;
  count = std::min(count, text_.size() - index);
  record(Change::kRemove, index, 0, text_.substr(index, count));
  text_.erase(index, count);
}

void StringBuilder::Append(std::string_view text) {
  if (!text.empty()) append_chars(text::to_u32(text), {});
}

void StringBuilder::AppendLine(std::string_view text) { append_chars(text::to_u32(text), kCrLf); }

void StringBuilder::Insert(long position, std::string_view text) {
  if (position >= 1) insert_chars(static_cast<std::size_t>(position - 1), text::to_u32(text));
}

void StringBuilder::Overwrite(long position, std::string_view text) {
  if (position >= 1) overwrite_chars(static_cast<std::size_t>(position - 1), text::to_u32(text));
}

void StringBuilder::Remove(long start_pos, long length) {
  if (start_pos >= 1 && length > 0)
    remove_chars(static_cast<std::size_t>(start_pos - 1), static_cast<std::size_t>(length));
}

void StringBuilder::Clear() {
  if (text_.empty()) return;
  text_.clear();
  last_change_ = Change::kNone;
  resize(initial_size_);
}

void StringBuilder::SetStringData(std::string_view text) {
  Clear();
  Append(text);
}

bool StringBuilder::Undo() {
  if (last_change_ == Change::kNone) return false;
  undoing_ = true;
  switch (last_change_) {
    case Change::kAppend: text_.resize(std::min(change_index_, text_.size())); break;
    case Change::kInsert: remove_chars(change_index_, change_length_); break;
    case Change::kOverwrite: overwrite_chars(change_index_, saved_); break;
    case Change::kRemove: insert_chars(change_index_, saved_); break;
    case Change::kNone: break;
  }
  saved_.clear();
  last_change_ = Change::kNone;
  undoing_ = false;
  return true;
}

bool StringBuilder::undo_if(Change change) { return last_change_ == change && Undo(); }
bool StringBuilder::UndoAppend() { return undo_if(Change::kAppend); }
bool StringBuilder::UndoInsert() { return undo_if(Change::kInsert); }
bool StringBuilder::UndoOverwrite() { return undo_if(Change::kOverwrite); }
bool StringBuilder::UndoRemove() { return undo_if(Change::kRemove); }

std::string StringBuilder::ToString() const { return text::to_utf8(text_); }

std::string StringBuilder::ToStringLeft(long length) const {
  if (length <= 0) return {};
  return text::to_utf8(std::u32string_view(text_).substr(0, static_cast<std::size_t>(length)));
}

std::string StringBuilder::ToStringRight(long length) const {
  if (length <= 0) return {};
  std::size_t n = std::min(static_cast<std::size_t>(length), text_.size());
  return text::to_utf8(std::u32string_view(text_).substr(text_.size() - n));
}

std::string StringBuilder::ToStringMid(long start_pos, long length) const {
  if (start_pos < 1 || start_pos > Length() || length <= 0) return {};
  auto from = static_cast<std::size_t>(start_pos - 1);
  return text::to_utf8(std::u32string_view(text_).substr(from, static_cast<std::size_t>(length)));
}

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
