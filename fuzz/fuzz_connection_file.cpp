// The server connection-string file, read from a real file as the database object reads it.

#include "config/registry.h"
#include "data/db_object.h"
#include "fuzz_support.h"

namespace {

using dexweb::fuzz::require;

bool is_isolation_level(const std::string& level) {
  for (const char* known : {"READ UNCOMMITTED", "READ COMMITTED", "REPEATABLE READ", "SNAPSHOT", "SERIALIZABLE"})
    if (level == known) return true;
  return false;
}

}  // namespace

void dexweb::fuzz::fuzz_input(std::string_view input) {
  const std::string path = dexweb::fuzz::write_input_file("SqlServerConnectionString.txt", input);
  // The registry left every timeout unset, so that the file's values are all applied.
  dexweb::DatabaseSettings settings = dexweb::database_settings(dexweb::RegistrySettings{});
  const dexweb::ServerConnection connection = dexweb::read_connection_file(path, settings);

  require(is_isolation_level(settings.isolation_level), "the isolation level is one of the five");
  const std::string& lines = connection.connection_string;
  require(lines.empty() || lines.ends_with("\r\n"), "the connection string ends each clause with CR LF");
  require(connection.driver_clauses.empty() || connection.driver_clauses.ends_with(";"),
          "the driver clauses end with ';'");
}
