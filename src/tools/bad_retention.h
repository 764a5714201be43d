#pragma once
// How long bad copies (Log_Dir + "badmsg/" + "*.web") are kept, and removing the older ones;
// removing the mail files and bad copies that a module left half-written. Finished mail
// files and message files are never touched.

#include <chrono>
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

// A half-written file this much older than now was left by a module that ended in the
// middle of writing it: a running module finishes each within a second.
inline constexpr std::chrono::hours kHalfWrittenAge{1};

// The half-written mail files (DB_Dir + "MailOut/") and bad copies (the bad folder) of the
// registry file's home last modified kHalfWrittenAge or more before now, oldest first per
// folder; each is removed unless dry_run. Raises RuntimeError when a file cannot be removed.
std::vector<std::string> prune_half_written(const std::string& registry_path, platform::TimePoint now, bool dry_run);

}  // namespace dexweb::ctl
