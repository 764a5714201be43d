#pragma once
// How long bad copies (Log_Dir + "badmsg/" + "*.web") are kept, and removing the older ones.
// Only bad copies are ever removed: mail files and message files are never touched.

#include <string>
#include <vector>

#include "platform/clock.h"

namespace dexweb::ctl {

inline constexpr long kDefaultBadRetentionDays = 30;
inline constexpr long kMaxBadRetentionDays = 36500;

// The product key's Bad_Retention_Days (text or dword) in the registry file; the default when
// it is missing or not a whole number from 1 to kMaxBadRetentionDays.
long bad_retention_days(const std::string& registry_path);

// The bad folder of the registry file: Log_Dir (else the default log folder) + "badmsg/".
std::string bad_folder_of(const std::string& registry_path);

// The plain files "*.web" of folder last modified more than `days` days before now, oldest
// first; links and other entries are left alone. Each is removed unless dry_run. A missing
// folder has none. Raises RuntimeError when a file cannot be removed.
std::vector<std::string> prune_bad_copies(const std::string& folder, long days, platform::TimePoint now,
                                          bool dry_run);

}  // namespace dexweb::ctl
