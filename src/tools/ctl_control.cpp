// The commands that act on a gateway's module and home as they are: pause, stop, start
// (resume), status and prune.
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "config/registry.h"
#include "data/db_object.h"
#include "data/sql_text.h"
#include "shell/startup.h"
#include "intake/refusals.h"
#include "notify/notifications.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/registry_file.h"
#include "tools/ctl_commands.h"
#include "tools/gateway_home.h"
#include "tools/gateway_status.h"
#include "tools/status_output.h"

namespace dexweb::ctl {
namespace {

constexpr int kStatusRunning = 0, kStatusNotRunning = 3, kStatusUnknown = 4;

struct Flag {
  const char* field;
  bool value;
};

// The control row as the gateway's tools write it: every row, the flags given.
void write_control_flags(const std::string& registry, std::initializer_list<Flag> flags) {
  DBObject db(gateway_database_settings(registry));
  db.OpenDb();  // the literals are those of the database found
  std::vector<Variant> fields;
  for (const Flag& flag : flags) {
    fields.emplace_back(std::string(flag.field));
    fields.emplace_back(flag.value);
  }
  QueryObject query;
  db.Execute(query.Build(db.SqlDialect(), QueryObject::kUpdate, "control", fields, ""));
  db.CloseDb();
  std::string line;
  for (const Flag& flag : flags)
    line += (line.empty() ? "control: " : ", ") + std::string(flag.field) + (flag.value ? " true" : " false");
  std::printf("%s\n", line.c_str());
}

std::string control_registry(const std::vector<std::string>& args) {
  const Options options(args, {"home"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  return registry_path(options);
}

bool module_runs(const std::string& registry) {
  return find_module(registry_folder(registry, "DB_Dir")).pid.has_value();
}

// Bad copies (Log_Dir + "badmsg/" + "*.web") are kept for a number of days; mail files and
// bad copies that a module left half-written are removed too. Finished mail files and
// message files are never touched.
constexpr long kDefaultBadRetentionDays = 30;
constexpr long kMaxBadRetentionDays = 36500;

// A half-written file this much older than now was left by a module that ended in the
// middle of writing it: a running module finishes each within a second.
constexpr std::chrono::hours kHalfWrittenAge{1};

// The product key's Bad_Retention_Days (text or dword) in the registry file; the default when
// it is missing or not a whole number from 1 to kMaxBadRetentionDays.
long bad_retention_days(const std::string& registry_path) {
  const std::string text = query_value(platform::RegistryFile(registry_path), kVelotraxKey, "Bad_Retention_Days");
  return registry_whole_number(text, 1, kMaxBadRetentionDays).value_or(kDefaultBadRetentionDays);
}

// The bad folder of the registry file: Log_Dir (else the default log folder) + "badmsg/".
std::string bad_folder_of(const std::string& registry_path) {
  std::string log_dir = registry_folder(registry_path, "Log_Dir");
  if (log_dir.empty()) log_dir = RegistrySettings::kDefaultLogFolder;
  return log_dir + "badmsg/";
}

// The plain files "*.web" of folder last modified more than `days` days before now, oldest
// first; links and other entries are left alone. Each is removed unless dry_run. A missing
// folder has none. Raises RuntimeError when a file cannot be removed.
std::vector<std::string> prune_bad_copies(const std::string& folder, long days, platform::TimePoint now,
                                          bool dry_run) {
  return platform::remove_files_before(folder, ".web", {}, now - std::chrono::hours(24) * days, dry_run);
}

// The half-written mail files (DB_Dir + "MailOut/") and bad copies (the bad folder) of the
// registry file's home last modified kHalfWrittenAge or more before now, oldest first per
// folder; each is removed unless dry_run. Raises RuntimeError when a file cannot be removed.
std::vector<std::string> prune_half_written(const std::string& registry_path, platform::TimePoint now, bool dry_run) {
  const platform::TimePoint before = now - kHalfWrittenAge;
  std::vector<std::string> paths;
  const std::string db_dir = registry_folder(registry_path, "DB_Dir");
  if (!db_dir.empty()) paths = platform::remove_files_before(db_dir + "MailOut/", "", is_mail_file_temporary, before, dry_run);
  for (std::string& path : platform::remove_files_before(bad_folder_of(registry_path), "", is_bad_copy_temporary, before, dry_run))
    paths.push_back(std::move(path));
  return paths;
}

}  // namespace

int run_pause(const std::vector<std::string>& args) {
  write_control_flags(control_registry(args), {{"dexweb_pause", true}});
  std::printf("A running module stops at its next refresh (within seconds); one started while the pause lasts "
              "waits up to 300 s. Undo: dexwebctl resume\n");
  return 0;
}

int run_stop(const std::vector<std::string>& args) {
  write_control_flags(control_registry(args), {{"dexweb_run", false}});
  std::printf("A running module stops at its next refresh (within seconds), and every start stops at once "
              "until: dexwebctl start\n");
  return 0;
}

// start and resume alike: whatever of the control row keeps the module from running is undone.
int run_start(const std::vector<std::string>& args) {
  const std::string registry = control_registry(args);
  write_control_flags(registry, {{"dexweb_run", true}, {"dexweb_pause", false}});
  if (!module_runs(registry))
    std::printf("The module is not running: start it (systemctl start VTXWeb, or run dexweb)\n");
  return 0;
}

int run_status(const std::vector<std::string>& args) {
  const Options options(args, {"home"}, {"json"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  const GatewayStatus status = read_gateway_status(registry_path(options));
  const std::string out = options.has("json") ? status_json(status) : status_text(status);
  std::fwrite(out.data(), 1, out.size(), stdout);
  // As systemctl is-active and LSB status actions answer.
  if (status.module.pid) return kStatusRunning;
  return status.module.unknown.empty() ? kStatusNotRunning : kStatusUnknown;
}

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
