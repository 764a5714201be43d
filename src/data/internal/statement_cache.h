#pragma once
// Prepared statements of one connection (SQLite, or ODBC) kept for texts that come again (the
// transaction's BEGIN and COMMIT, the counter step, lookups of the same name, a message's
// statements with their values bound), so that their parse is paid once. A text is kept from its second run on: texts seen
// once, such as a message's INSERT with its values written in, never displace the kept
// ones. Destroy the cache before its connection.

#include <cstddef>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace dexweb {

// Statement: a movable prepared statement whose reset() makes it ready to run again.
template <typename Statement>
class StatementCache {
 public:
  explicit StatementCache(std::size_t capacity = 16) : capacity_(capacity), seen_(kSeenSlots, 0) {}

  // The kept statement of sql, taken out of the cache (ready to run); nullopt when none.
  // Its place stays, so that giving it back costs no new entry.
  std::optional<Statement> take(std::string_view sql);
  // Offers back a statement that ran to its end: kept when sql was offered before.
  void give_back(std::string_view sql, Statement statement);

 private:
  static constexpr std::size_t kSeenSlots = 256;
  // A kept text and its statement; no statement while it is taken.
  using Entry = std::pair<std::string, std::optional<Statement>>;

  std::size_t capacity_;
  std::list<Entry> entries_;  // most recently used first
  std::unordered_map<std::string_view, typename std::list<Entry>::iterator> index_;
  // Hashes of texts offered once, by slot: a text is kept when its slot holds its hash.
  std::vector<std::size_t> seen_;
};

}  // namespace dexweb
