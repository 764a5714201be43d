#include "tools/bad_retention.h"

#include <chrono>
#include <utility>

#include "config/registry.h"
#include "config/registry_settings.h"
#include "config/registry_values.h"
#include "intake/refusals.h"
#include "notify/notifications.h"
#include "platform/files.h"
#include "platform/registry_file.h"
#include "tools/gateway_home.h"

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
  return platform::remove_files_before(folder, ".web", {}, now - std::chrono::hours(24) * days, dry_run);
}

std::vector<std::string> prune_half_written(const std::string& registry_path, platform::TimePoint now, bool dry_run) {
  const platform::TimePoint before = now - kHalfWrittenAge;
  std::vector<std::string> paths;
  const std::string db_dir = registry_folder(registry_path, "DB_Dir");
  if (!db_dir.empty()) paths = platform::remove_files_before(db_dir + "MailOut/", "", is_mail_file_temporary, before, dry_run);
  for (std::string& path : platform::remove_files_before(bad_folder_of(registry_path), "", is_bad_copy_temporary, before, dry_run))
    paths.push_back(std::move(path));
  return paths;
}

}  // namespace dexweb::ctl
