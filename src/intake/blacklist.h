#pragma once
// PIN prefixes that must never be paged: the file DB_Dir + "blacklist", one entry per line.
// The daemon owns one list and loads it once, at the first poll after start-up.

#include <string>
#include <string_view>
#include <vector>

namespace dexweb {

// The entry a blacklist line stands for: the number at its start (blanks before and between
// the digits skipped, reading stops at the first character that cannot continue a number,
// 0 when there is none) written back as decimal text. "12-34" -> "12", "1 2 3" -> "123".
std::string blacklist_entry(std::string_view line);

class BlackList {
 public:
  static constexpr int kMaxEntries = 100;

  // Reads db_dir + "blacklist" (name matched without regard to case); no file means no
  // entries. Lines end with CR LF, CR or LF. Only the first kMaxEntries lines are used; the
  // rest is reported in a log line. Raises RuntimeError when the file cannot be read.
  void load(const std::string& db_dir);
  // True when some entry is no longer than pin and equals its first characters (case
  // matters).
  bool in_blacklist(std::string_view pin) const;
  int blacklist_count() const { return static_cast<int>(entries_.size()); }
  const std::vector<std::string>& entries() const { return entries_; }

 private:
  std::vector<std::string> entries_;
};

}  // namespace dexweb
