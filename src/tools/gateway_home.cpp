#include "tools/gateway_home.h"

#include <filesystem>

#include "config/registry.h"
#include "data/db_object.h"
#include "data/schema_setup.h"
#include "platform/files.h"
#include "platform/registry_file.h"
#include "tools/home_database.h"
#include "tools/schema_location.h"
#include "util/runtime_error.h"

namespace dexweb::ctl {
namespace {

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

std::string on_disk(const HomeLayout& home, const std::string& path) { return home.root + path; }

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

}  // namespace dexweb::ctl
