#pragma once
// Who the web may address: the accounts of the gateway's users table (RecipientList), the
// recipient list of a message (its "subject=" field) as single names or PINs, and the PIN
// prefixes that must never be paged (BlackList).

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dexweb {

class DBObject;
class ErrorPolicy;

// The flags of one account.
struct WebRecipient {
  bool ad_hoc = false;      // the account stands for PINs typed by the sender
  bool multi_page = false;
  bool web_service = false;  // the account may receive messages from the web
  bool group_list = false;
};

// The accounts of the users table that the web may address, keyed by user name without
// regard to case. The daemon owns one list; the poll cycle empties it before every poll,
// and the first lookup of the poll loads it again, so each poll sees the table as it is
// then.
class RecipientList {
 public:
  // Loads the rows of users whose display_group is false, when the list is empty. An empty
  // flag counts as false; of two names that differ only in case the first row is kept.
  // Database errors go through the error routine ("Procedure: GetRecipientList") and the
  // load runs again.
  void ensure_loaded(DBObject& db, ErrorPolicy& policy);
  // Loads the list if needed, then the account stored under user, if any.
  std::optional<WebRecipient> find_web_recipient(DBObject& db, ErrorPolicy& policy, std::string_view user);

  void clear() { entries_.clear(); }
  int count() const { return static_cast<int>(entries_.size()); }

 private:
  void load(DBObject& db);

  std::map<std::string, WebRecipient> entries_;  // keyed by the lower-case name
};

inline constexpr std::size_t kAccountItemLimit = 40;
inline constexpr std::size_t kAdHocItemLimit = 80;
inline constexpr std::size_t kMaxSeparatedItems = 500;

// Runs of spaces become one space.
std::string collapse_spaces(std::string_view text);

// Items separated by spaces, commas, semicolons or tabs, each cut to item_limit characters.
// After kMaxSeparatedItems items the rest of the list, cut to the limit, is one last item.
std::vector<std::string> split_recipient_list(std::string_view list, std::size_t item_limit);

// The entry a blacklist line stands for: the number at its start (blanks before and between
// the digits skipped, reading stops at the first character that cannot continue a number,
// 0 when there is none) written back as decimal text. "12-34" -> "12", "1 2 3" -> "123".
std::string blacklist_entry(std::string_view line);

// The file DB_Dir + "blacklist", one entry per line. The daemon owns one list and loads it
// once, at the first poll after start-up.
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

 private:
  std::vector<std::string> entries_;
};

}  // namespace dexweb
