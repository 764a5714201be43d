#pragma once
// The accounts of the gateway's users table that the web may address, keyed by user name
// without regard to case. The daemon owns one list; the poll cycle empties it before
// every poll, and the first lookup of the poll loads it again, so each poll sees the table
// as it is then.

#include <map>
#include <optional>
#include <string>
#include <string_view>

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

}  // namespace dexweb
