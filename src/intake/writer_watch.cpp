#include "intake/writer_watch.h"

#include <chrono>
#include <utility>

namespace dexweb {

bool WriterWatch::busy(const platform::FolderEntry& entry, const std::string& name) {
  switch (entry.writer()) {
    case platform::WriterState::Closed: return false;
    case platform::WriterState::Open: return true;
    case platform::WriterState::Unknown: break;
  }
  const auto stamp = entry.current_stamp();
  if (!stamp) return true;
  const platform::SteadyPoint now = platform::clock().steady_now();
  auto [look, first] = looks_.try_emplace(name, Look{*stamp, now});
  if (first || look->second.stamp != *stamp) {
    look->second.stamp = *stamp;
    look->second.at = now;
    return true;
  }
  return now - look->second.at < std::chrono::duration<double>(kQuietSeconds);
}

bool WriterWatch::first_report(const std::string& name) {
  Look& look = looks_[name];
  return !std::exchange(look.reported, true);
}

void WriterWatch::forget(const std::string& name) { looks_.erase(name); }

void WriterWatch::forget_gone(const std::string& folder) {
  std::erase_if(looks_, [&](const auto& entry) { return !platform::stamp_entry(folder + entry.first); });
}

}  // namespace dexweb
