#include "data/database_settings.h"

namespace dexweb {

DatabaseSettings database_settings(const RegistrySettings& registry) {
  DatabaseSettings s;
  s.db_dir = registry.DB_Dir;
  s.short_timeout = registry.DB_Short_Timeout;
  s.medium_timeout = registry.DB_Medium_Timeout;
  s.long_timeout = registry.DB_Long_Timeout;
  s.retries = registry.DB_Retries;
  s.short_timeout_set = registry.DB_Short_Timeout_Set;
  s.medium_timeout_set = registry.DB_Medium_Timeout_Set;
  s.long_timeout_set = registry.DB_Long_Timeout_Set;
  s.retries_set = registry.DB_Retries_Set;
  return s;
}

}  // namespace dexweb
