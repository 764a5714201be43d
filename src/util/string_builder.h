#pragma once
// A growable text buffer with insert, overwrite, remove, search and replace, which remembers
// its most recent change so that the change can be undone.
//
// Text is UTF-8 at the interface; positions (1-based) and lengths count code points.
// Out-of-range positions make a change do nothing and a read give empty text.
//
// Capacity is kept in bytes as two per character plus two for a terminator, and grows only
// when a change needs more: to capacity × 1.6 + the new text's bytes, rounded up to a
// multiple of the initial size (16384 rounded up to the page size). Clear returns it to the
// initial size. The page size is the caller's to give: those that want the system's pass
// platform::page_size(); the default is the usual 4096.

#include <cstddef>
#include <string>
#include <string_view>

namespace dexweb {

class StringBuilder {
 public:
  // CompareMethod value for case-insensitive comparisons; any other value is exact.
  static constexpr int kTextCompare = 1;

  static constexpr std::size_t kDefaultPageSize = 4096;

  StringBuilder() : StringBuilder(kDefaultPageSize) {}
  // Raises RuntimeError 5 when page_size is 0.
  explicit StringBuilder(std::size_t page_size);

  // Replaces every occurrence from the left; replacement text is not searched again.
  void SearchAndReplace(std::string_view search, std::string_view replacement,
                        int compare_method = 0);
  std::string ToString() const;
  // Replaces the text (Clear, then Append).
  void SetStringData(std::string_view text);
  std::string ToStringLeft(long length) const;
  std::string ToStringMid(long start_pos, long length) const;
  std::string ToStringRight(long length) const;
  // Empties a non-empty text, forgets the last change and shrinks to the initial size.
  void Clear();
  void Append(std::string_view text);
  // Appends text (even empty) and CR LF.
  void AppendLine(std::string_view text);
  // position may be Length() + 1, which appends.
  void Insert(long position, std::string_view text);
  // Writes text over the characters from position on, lengthening the text when it runs past
  // the end.
  void Overwrite(long position, std::string_view text);
  void Remove(long start_pos, long length);

  // Reverts the most recent Append/AppendLine, Insert, Overwrite or Remove; false when there
  // is none. An undone overwrite writes back only the characters it covered.
  bool Undo();
  bool UndoAppend();
  bool UndoInsert();
  bool UndoOverwrite();
  bool UndoRemove();

  long Length() const { return static_cast<long>(text_.size()); }
  // 1-based position of search at or after start_pos, or 0. With a delimiter, search must
  // stand as a whole token between delimiters (or at either end of the text).
  long Find(long start_pos, std::string_view search, std::string_view delimiter = {},
            int compare_method = 0) const;

  std::size_t Capacity() const { return capacity_; }
  std::size_t InitialSize() const { return initial_size_; }

 private:
  enum class Change { kNone, kAppend, kInsert, kOverwrite, kRemove };

  void grow_for(std::size_t bytes_needed, std::size_t new_bytes);
  void resize(std::size_t bytes);
  void record(Change change, std::size_t index, std::size_t length, std::u32string saved = {});
  bool undo_if(Change change);
  std::size_t used_bytes() const { return text_.size() * 2; }

  void append_chars(std::u32string_view chars, std::u32string_view line_end);
  void insert_chars(std::size_t index, std::u32string_view chars);
  void overwrite_chars(std::size_t index, std::u32string_view chars);
  void remove_chars(std::size_t index, std::size_t count);
  long find_chars(long start_pos, std::u32string_view search, std::u32string_view delimiter,
                  bool ignore_case) const;
  long find_token(long start_pos, std::u32string_view search, std::u32string_view delimiter,
                  bool ignore_case) const;

  std::u32string text_;
  std::size_t capacity_ = 0;
  std::size_t initial_size_ = 0;
  Change last_change_ = Change::kNone;
  std::size_t change_index_ = 0;
  std::size_t change_length_ = 0;
  std::u32string saved_;
  bool undoing_ = false;
};

}  // namespace dexweb
