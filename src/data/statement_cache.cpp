#include "data/internal/statement_cache.h"

#include <functional>
#include <utility>

namespace dexweb {

std::optional<platform::SqliteStatement> StatementCache::take(std::string_view sql) {
  auto found = index_.find(sql);
  if (found == index_.end()) return std::nullopt;
  entries_.splice(entries_.begin(), entries_, found->second);
  return std::exchange(found->second->second, std::nullopt);
}

void StatementCache::give_back(std::string_view sql, platform::SqliteStatement statement) {
  if (auto found = index_.find(sql); found != index_.end()) {
    std::optional<platform::SqliteStatement>& place = found->second->second;
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

}  // namespace dexweb
