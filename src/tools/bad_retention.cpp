#include "tools/bad_retention.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "config/registry.h"
#include "config/registry_settings.h"
#include "config/registry_values.h"
#include "platform/files.h"
#include "platform/registry_file.h"
#include "tools/gateway_registry.h"

namespace dexweb::ctl {

long bad_retention_days(const std::string& registry_path) {
  const std::string text = query_value(platform::RegistryFile(registry_path), kVelotraxKey, "Bad_Retention_Days");
  return registry_whole_number(text, 1, kMaxBadRetentionDays).value_or(kDefaultBadRetentionDays);
}

std::string bad_folder_of(const std::string& registry_path) {
  std::string log_dir = registry_folder(registry_path, "Log_Dir");
  if (log_dir.empty()) log_dir = RegistrySettings::kDefaultLogFolder;
  return log_dir + "badmsg/";
}

std::vector<std::string> prune_bad_copies(const std::string& folder, long days, platform::TimePoint now,
                                          bool dry_run) {
  if (!platform::stat_path(folder)) return {};
  const platform::TimePoint cutoff = now - std::chrono::hours(24) * days;
  std::vector<std::pair<platform::TimePoint, std::string>> old;
  for (const platform::DirEntry& entry : platform::list_files(folder, ".web"))
    if (entry.regular && entry.modified < cutoff) old.emplace_back(entry.modified, folder + entry.name);
  std::sort(old.begin(), old.end());
  std::vector<std::string> paths;
  for (auto& [modified, path] : old) {
    if (!dry_run) platform::remove_file(path);
    paths.push_back(std::move(path));
  }
  return paths;
}

}  // namespace dexweb::ctl
