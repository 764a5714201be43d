// The server connection-string file, read from a real file as the database object reads it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/registry_settings.h"
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = dexweb::fuzz::write_input_file(
      "SqlServerConnectionString.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  // The registry left every timeout unset, so that the file's values are all applied.
  dexweb::DatabaseSettings settings = dexweb::database_settings(dexweb::RegistrySettings{});
  const dexweb::ServerConnection connection = dexweb::read_connection_file(path, settings);

  require(is_isolation_level(settings.isolation_level), "the isolation level is one of the five");
  const std::string& lines = connection.connection_string;
  require(lines.empty() || lines.ends_with("\r\n"), "the connection string ends each clause with CR LF");
  require(connection.driver_clauses.empty() || connection.driver_clauses.ends_with(";"),
          "the driver clauses end with ';'");
  return 0;
}
