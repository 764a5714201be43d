#include "tools/gateway_registry.h"

#include "config/registry_settings.h"
#include "data/db_object.h"
#include "platform/files.h"
#include "platform/registry_file.h"
#include "util/runtime_error.h"

namespace dexweb::ctl {

std::string registry_folder(const std::string& registry_path, std::string_view name) {
  const auto value = platform::RegistryFile(registry_path).read(std::string("HKEY_LOCAL_MACHINE\\") + kVelotraxKey, name);
  if (!value || !std::holds_alternative<std::string>(*value)) return {};
  std::string folder = std::get<std::string>(*value);
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

void require_registry_file(const std::string& registry_path) {
  if (!platform::stat_path(registry_path))
    throw RuntimeError(err::kFileNotFound, "registry file not found: " + registry_path);
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
