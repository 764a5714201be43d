#pragma once
// The settings the database object works with, taken from the registry once and handed to
// each DBObject; a server's connection-string file may still fill in the values the
// registry left unset.

#include <string>

#include "config/registry.h"

namespace dexweb {

struct DatabaseSettings {
  // The folder of velotrax.db or SqlServerConnectionString.txt, ending with '/'.
  std::string db_dir;
  // Time-outs in seconds, and the retries of each failing step.
  int short_timeout = 2;
  int medium_timeout = 5;
  int long_timeout = 20;
  int retries = 3;
  // A server session's isolation level, from the connection-string file.
  std::string isolation_level = "READ COMMITTED";
  // True when the registry gave the value: only then does it win over the
  // connection-string file.
  bool short_timeout_set = false;
  bool medium_timeout_set = false;
  bool long_timeout_set = false;
  bool retries_set = false;
};

// The database values of the registry settings; never fails.
DatabaseSettings database_settings(const RegistrySettings& registry);

}  // namespace dexweb
