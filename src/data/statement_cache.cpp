#include "data/internal/statement_cache.h"

#include <functional>

namespace dexweb {

std::optional<platform::SqliteStatement> StatementCache::take(std::string_view sql) {
  auto found = index_.find(sql);
  if (found == index_.end()) return std::nullopt;
  platform::SqliteStatement statement = std::move(found->second->second);
  entries_.erase(found->second);
  index_.erase(found);
  return statement;
}

void StatementCache::give_back(std::string_view sql, platform::SqliteStatement statement) {
  const std::size_t hash = std::hash<std::string_view>{}(sql);
  std::size_t& slot = seen_[hash % kSeenSlots];
  if (slot != hash) {
    slot = hash;
    return;
  }
  if (index_.contains(sql)) return;
  statement.reset();
  entries_.emplace_front(std::string(sql), std::move(statement));
  index_.emplace(entries_.front().first, entries_.begin());
  if (entries_.size() > capacity_) {
    index_.erase(entries_.back().first);
    entries_.pop_back();
  }
}

}  // namespace dexweb
