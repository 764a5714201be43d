#pragma once
// The gateway as a registry file names it, for the operator's commands.

#include <string>
#include <string_view>

#include "data/db_object.h"

namespace dexweb {
class DBObject;
}

namespace dexweb::ctl {

// A folder value of the product key (Prog_Dir, DB_Dir, Log_Dir) with a trailing '/';
// empty text when the file, the key or the value is missing.
std::string registry_folder(const std::string& registry_path, std::string_view name);

// Raises RuntimeError 53 "registry file not found: PATH" when the file is missing, and the
// file error "registry file cannot be read: ..." when it cannot be read (either would
// otherwise read as an empty registry).
void require_registry_file(const std::string& registry_path);

// The settings of a DBObject on the registry's DB_Dir, failing at once rather than retrying
// (a person is waiting). Raises RuntimeError when the registry file is missing or names no
// DB_Dir.
DatabaseSettings gateway_database_settings(const std::string& registry_path);

// The settings row's dexwebcgi_path; raises RuntimeError when there is no settings row.
std::string read_watched_folder(DBObject& db);

}  // namespace dexweb::ctl
