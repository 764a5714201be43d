#include "tools/bad_retention.h"

#include <chrono>
#include <utility>

#include "config/registry_settings.h"
#include "intake/bad_copies.h"
#include "notify/notifications.h"
#include "platform/files.h"
#include "platform/registry_file.h"
#include "tools/gateway_registry.h"
#include "util/text.h"

namespace dexweb::ctl {

long bad_retention_days(const std::string& registry_path) {
  const auto value =
      platform::RegistryFile(registry_path).read(std::string("HKEY_LOCAL_MACHINE\\") + kVelotraxKey, "Bad_Retention_Days");
  if (!value) return kDefaultBadRetentionDays;
  double days = 0;
  if (const auto* number = std::get_if<std::uint32_t>(&*value)) {
    days = *number;
  } else {
    const auto parsed = text::parse_number(std::get<std::string>(*value));
    if (!parsed) return kDefaultBadRetentionDays;
    days = *parsed;
  }
  if (days < 1 || days > kMaxBadRetentionDays || days != static_cast<double>(static_cast<long>(days)))
    return kDefaultBadRetentionDays;
  return static_cast<long>(days);
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
