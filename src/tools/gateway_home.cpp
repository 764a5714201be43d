#include "tools/gateway_home.h"

#include <chrono>
#include <cstdint>
#include <filesystem>

#include "config/registry.h"
#include "data/db_object.h"
#include "data/sql_text.h"
#include "data/schema_setup.h"
#include "platform/folder.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry_file.h"
#include "util/runtime_error.h"

namespace dexweb::ctl {

std::string registry_folder(const std::string& registry_path, std::string_view name) {
  std::string folder = query_value(platform::RegistryFile(registry_path), kVelotraxKey, name);
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

void require_registry_file(const std::string& registry_path) {
  if (!platform::stat_path(registry_path))
    throw RuntimeError(err::kFileNotFound, "registry file not found: " + registry_path);
  try {
    platform::RegistryFile(registry_path).require_readable();
  } catch (const RuntimeError& e) {
    throw RuntimeError(e.number(), "registry file cannot be read: " + e.description());
  }
}

DatabaseSettings gateway_database_settings(const std::string& registry_path) {
  require_registry_file(registry_path);
  const std::string db_dir = registry_folder(registry_path, "DB_Dir");
  if (db_dir.empty()) throw RuntimeError(err::kFileNotFound, "No DB_Dir in the registry file " + registry_path);
  DatabaseSettings settings;
  settings.db_dir = db_dir;
  settings.retries = 0;
  return settings;
}

std::string read_watched_folder(DBObject& db) {
  auto rs = db.OpenRecordset("SELECT [dexwebcgi_path] FROM [settings]" + db.SqlDialect().table_hint());
  if (rs->Eof()) throw RuntimeError(err::kFileNotFound, "The settings row names no watched folder");
  return rs->AsText("dexwebcgi_path");
}

std::string watched_folder_of(const std::string& registry_path) {
  DBObject db(gateway_database_settings(registry_path));
  std::string folder = read_watched_folder(db);
  db.CloseDb();
  return folder;
}

namespace {

constexpr std::chrono::seconds kToolLimit{60};
constexpr unsigned kRead = 4, kWrite = 2, kSearch = 1;

// The file-system path of a gateway path: root + path.
std::string on_disk(const HomeLayout& home, const std::string& path) { return home.root + path; }

std::string registry_key(const char* key) { return std::string("HKEY_LOCAL_MACHINE\\") + key; }

void write_registry(const HomeLayout& home, int monitor_port) {
  const platform::RegistryFile reg(on_disk(home, home.registry));
  reg.write(registry_key(kVelotraxKey), "Prog_Dir", home.prog);
  reg.write(registry_key(kVelotraxKey), "DB_Dir", home.data);
  reg.write(registry_key(kVelotraxKey), "Log_Dir", home.log);
  reg.write(registry_key(kServicesKey), "Run_Type", home.run_type);
  reg.write(registry_key(kMonitorKey), "VTM_Enabled", std::string("true"));
  reg.write(registry_key(kMonitorKey), "VTM_Port", std::to_string(monitor_port));
}

std::string as_folder(std::string path) {
  if (path.back() != '/') path += '/';
  return path;
}

// The schema file of the kind; raises RuntimeError 53 when none is found.
std::string find_schema_file(DatabaseKind kind) {
  const std::string name = schema_file_name(kind);
  const std::string exe = platform::executable_path();
  const std::string exe_dir = exe.substr(0, exe.rfind('/') + 1);
  for (const std::string& path : {exe_dir + "schema/" + name, exe_dir + "../share/dexweb/schema/" + name})
    if (is_file(path)) return path;
  throw RuntimeError(err::kFileNotFound, "Schema file " + name + " not found beside " + exe);
}

void insert(DBObject& db, const char* table, const std::vector<Variant>& fields) {
  QueryObject q;
  db.Execute(q.Build(db.SqlDialect(), QueryObject::kInsert, table, fields));
}

void seed_home_database(DBObject& db, const std::string& web_folder, bool accounts) {
  using S = std::string;
  const std::int32_t one = 1;
  insert(db, "settings",
         {S("record_id"), one, S("dbversion"), std::int32_t{1100}, S("dexwebcgi_path"), web_folder,
          S("dexweb_poll"), std::int32_t{2}, S("log_level"), std::int32_t{3}, S("log_to_disk"), true,
          S("retry_interval"), std::int32_t{60}});
  insert(db, "control",
         {S("record_id"), one, S("dexweb_pause"), false, S("dexweb_run"), true, S("dexweb_state"), false,
          S("sched_state"), false});
  insert(db, "counters", {S("record_id"), one, S("unique_id"), std::int32_t{0}});
  if (!accounts) return;
  for (const SeedAccount& a : kSeedAccounts)
    insert(db, "users",
           {S("user"), S(a.user), S("full_name"), S(a.full_name), S("ad_hoc"), a.ad_hoc, S("multi_page"),
            a.multi_page, S("web_service"), a.web_service, S("group_list"), a.group_list, S("display_group"),
            false});
}

void must(const std::vector<std::string>& argv) {
  const platform::ProgramRun run = platform::run_and_wait(argv, kToolLimit);
  if (run.end == platform::ProgramRun::End::Exited && run.code == 0) return;
  std::string command;
  for (const std::string& word : argv) command += (command.empty() ? "" : " ") + word;
  throw RuntimeError(err::kPermissionDenied, "Command failed: " + command);
}

}  // namespace

HomeLayout home_layout(const std::string& dir) {
  const std::string home = as_folder(std::filesystem::absolute(dir).lexically_normal().string());
  return {.root = "",
          .home = home,
          .registry = home + "velotrax.reg",
          .prog = home + "prog/",
          .data = home + "data/",
          .log = home + "log/",
          .web = home + "web/",
          .bad = home + "log/badmsg/",
          .mail_out = home + "data/MailOut/",
          .database = home + "data/velotrax.db",
          .run_type = "Application",
          .seed_accounts = true};
}

HomeLayout system_layout(const std::string& root) {
  std::string prefix = root.empty() ? "" : std::filesystem::absolute(root).lexically_normal().string();
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  return {.root = prefix,
          .home = "/etc/velotrax/",
          .registry = "/etc/velotrax/velotrax.reg",
          .prog = "/usr/lib/dexweb/",
          .data = "/var/lib/velotrax/",
          .log = "/var/log/velotrax/",
          .web = "/var/lib/velotrax/web/",
          .bad = "/var/log/velotrax/badmsg/",
          .mail_out = "/var/lib/velotrax/MailOut/",
          .database = "/var/lib/velotrax/velotrax.db",
          .run_type = "NTService",
          .seed_accounts = false};
}

void init_home(const HomeLayout& home, int monitor_port) {
  if (platform::stat_path(on_disk(home, home.registry)))
    throw RuntimeError(err::kFileAlreadyExists, "The registry file exists already: " + on_disk(home, home.registry));
  for (const std::string* folder :
       {&home.home, &home.prog, &home.data, &home.log, &home.web, &home.bad, &home.mail_out})
    platform::make_dirs(on_disk(home, *folder));
  const std::string schema = platform::read_file(find_schema_file(DatabaseKind::Embedded));
  create_embedded_database_file(on_disk(home, home.database));
  DatabaseSettings settings;
  settings.db_dir = on_disk(home, home.data);
  DBObject db(std::move(settings));
  create_schema(db, schema);
  seed_home_database(db, home.web, home.seed_accounts);
  db.CloseDb();
  write_registry(home, monitor_port);
}

unsigned web_group(const HomeLayout& home, const std::string& name) {
  if (const auto gid = platform::find_group(home.root, name)) return *gid;
  std::vector<std::string> argv{"groupadd", "--system"};
  if (!home.root.empty()) argv.insert(argv.end(), {"--prefix", home.root});
  argv.insert(argv.end(), {"--", name});
  must(argv);
  if (const auto gid = platform::find_group(home.root, name)) return *gid;
  throw RuntimeError(err::kFileNotFound, "The group " + name + " was made but cannot be found");
}

// Numbers, not names: the accounts are the root's, which the host may not know.
void hand_over(const HomeLayout& home, platform::AccountNumbers account, unsigned web_gid) {
  const std::string data = on_disk(home, home.data), log = on_disk(home, home.log), web = on_disk(home, home.web);
  const std::string etc = on_disk(home, home.home), registry = on_disk(home, home.registry);
  const std::string uid = std::to_string(account.uid), gid = std::to_string(account.gid);
  must({"chown", "-R", uid + ":" + gid, "--", data, log});
  // Folders keep their search bit for the group; files lose everything for others.
  must({"chmod", "-R", "u+rwX,g+rX,g-w,o-rwx", "--", data, log});
  must({"chown", "0:" + gid, "--", etc, registry});
  must({"chmod", "0750", "--", etc});
  must({"chmod", "0640", "--", registry});
  must({"chown", uid + ":" + std::to_string(web_gid), "--", web});
  must({"chmod", "2770", "--", web});
}

void grant_web_access(const HomeLayout& home, platform::AccountNumbers account, unsigned web_gid) {
  platform::set_acl(on_disk(home, home.web), true, {{false, account.uid, kRead | kWrite | kSearch}});
  platform::set_acl(on_disk(home, home.data), false, {{true, web_gid, kSearch}});
}

}  // namespace dexweb::ctl
