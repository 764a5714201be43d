#include <cstdio>

#include "platform/clock.h"
#include "tools/bad_retention.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_options.h"
#include "tools/gateway_home.h"

namespace dexweb::ctl {

int run_prune(const std::vector<std::string>& args) {
  const Options options(args, {"home", "days"}, {"dry-run"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  const std::string registry = registry_path(options);
  require_registry_file(registry);
  const long days = options.number("days", 1, kMaxBadRetentionDays).value_or(bad_retention_days(registry));
  const std::string folder = bad_folder_of(registry);
  const bool dry_run = options.has("dry-run");
  const auto paths = prune_bad_copies(folder, days, platform::clock().now(), dry_run);
  for (const std::string& path : paths) std::printf("%s%s\n", dry_run ? "would remove " : "removed ", path.c_str());
  std::printf("%zu bad cop%s older than %ld day%s %s in %s\n", paths.size(), paths.size() == 1 ? "y" : "ies", days,
              days == 1 ? "" : "s", dry_run ? "to remove" : "removed", folder.c_str());
  const auto half_written = prune_half_written(registry, platform::clock().now(), dry_run);
  for (const std::string& path : half_written) std::printf("%s%s\n", dry_run ? "would remove " : "removed ", path.c_str());
  std::printf("%zu half-written file%s older than an hour %s\n", half_written.size(), half_written.size() == 1 ? "" : "s",
              dry_run ? "to remove" : "removed");
  return 0;
}

}  // namespace dexweb::ctl
