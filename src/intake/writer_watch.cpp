#include "intake/writer_watch.h"

#include <chrono>
#include <utility>

namespace dexweb {

WriterWatch::Writer WriterWatch::writer(const platform::FolderEntry& entry, const std::string& name) {
  switch (entry.writer()) {
    case platform::WriterState::Closed: return Writer::Done;
    case platform::WriterState::Open: return Writer::Holding;
    case platform::WriterState::Unknown: break;
  }
  const auto stamp = entry.current_stamp();
  if (!stamp) return Writer::Settling;
  const platform::SteadyPoint now = platform::clock().steady_now();
  auto [look, first] = looks_.try_emplace(name, Look{*stamp, now});
  if (first || look->second.stamp != *stamp) {
    look->second.stamp = *stamp;
    look->second.at = now;
    return Writer::Settling;
  }
  return now - look->second.at < std::chrono::duration<double>(kQuietSeconds) ? Writer::Settling : Writer::Done;
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
