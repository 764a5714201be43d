#include "tools/gateway_registry.h"

#include "config/registry.h"
#include "data/db_object.h"
#include "platform/files.h"
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

}  // namespace dexweb::ctl
