#include "tools/gateway_home.h"

#include <filesystem>

#include "config/globals.h"
#include "config/registry_settings.h"
#include "data/db_object.h"
#include "data/schema_setup.h"
#include "platform/files.h"
#include "platform/registry_file.h"
#include "tools/home_database.h"
#include "tools/schema_location.h"

namespace dexweb::ctl {
namespace {

std::string registry_key(const char* key) { return std::string("HKEY_LOCAL_MACHINE\\") + key; }

void write_registry(const HomeLayout& home, int monitor_port) {
  const platform::RegistryFile reg(home.registry);
  reg.write(registry_key(kVelotraxKey), "Prog_Dir", home.prog);
  reg.write(registry_key(kVelotraxKey), "DB_Dir", home.data);
  reg.write(registry_key(kVelotraxKey), "Log_Dir", home.log);
  reg.write(registry_key(kServicesKey), "Run_Type", std::string("Application"));
  reg.write(registry_key(kMonitorKey), "VTM_Enabled", std::string("true"));
  reg.write(registry_key(kMonitorKey), "VTM_Port", std::to_string(monitor_port));
}

}  // namespace

HomeLayout home_layout(const std::string& dir) {
  std::string home = std::filesystem::absolute(dir).lexically_normal().string();
  if (home.back() != '/') home += '/';
  return {.home = home,
          .registry = home + "velotrax.reg",
          .prog = home + "prog/",
          .data = home + "data/",
          .log = home + "log/",
          .web = home + "web/",
          .bad = home + "log/badmsg/",
          .mail_out = home + "data/MailOut/",
          .database = home + "data/velotrax.db"};
}

void init_home(const HomeLayout& home, int monitor_port) {
  for (const std::string* folder : {&home.prog, &home.data, &home.log, &home.web, &home.bad, &home.mail_out})
    platform::make_dirs(*folder);
  const std::string schema = platform::read_file(find_schema_file(DatabaseKind::Embedded));
  create_embedded_database_file(home.database);
  globals().Registry.DB_Dir = home.data;
  DBObject db;
  create_schema(db, schema);
  seed_home_database(db, home.web);
  db.CloseDb();
  write_registry(home, monitor_port);
}

}  // namespace dexweb::ctl
