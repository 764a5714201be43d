#include "data/internal/statement_cache.h"

#include <functional>
#include <utility>

#include "platform/odbc.h"
#include "platform/sqlite_db.h"

namespace dexweb {

template <typename Statement>
std::optional<Statement> StatementCache<Statement>::take(std::string_view sql) {
  auto found = index_.find(sql);
  if (found == index_.end()) return std::nullopt;
  entries_.splice(entries_.begin(), entries_, found->second);
  return std::exchange(found->second->second, std::nullopt);
}

template <typename Statement>
void StatementCache<Statement>::give_back(std::string_view sql, Statement statement) {
  if (auto found = index_.find(sql); found != index_.end()) {
    std::optional<Statement>& place = found->second->second;
    if (!place) {
      statement.reset();
      place = std::move(statement);
    }
    return;
  }
  const std::size_t hash = std::hash<std::string_view>{}(sql);
  std::size_t& slot = seen_[hash % kSeenSlots];
  if (slot != hash) {
    slot = hash;
    return;
  }
  statement.reset();
  entries_.emplace_front(std::string(sql), std::move(statement));
  index_.emplace(entries_.front().first, entries_.begin());
  if (entries_.size() > capacity_) {
    index_.erase(entries_.back().first);
    entries_.pop_back();
  }
}

template class StatementCache<platform::SqliteStatement>;
template class StatementCache<platform::OdbcStatement>;

}  // namespace dexweb
