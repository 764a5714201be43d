#pragma once
// The product's registry settings as the module reads them: once at start, and again into
// a new copy when the operator asks (SIGHUP). Nothing else of the module reads the registry.

#include <array>
#include <string>

#include "platform/registry_file.h"

namespace dexweb {

struct RegistrySettings {
  std::string file;  // the registry file they were read from
  // The key the product's values were read from: kVelotraxKey, or its WOW6432Node twin
  // (config/registry.h).
  std::string key_read;
  std::string Prog_Dir;  // folders end with '/'; names are appended directly
  std::string DB_Dir;
  std::string Log_Dir;
  std::string DB_Password;  // decoded
  bool SyncTimeWithServer = true;
  int DB_Short_Timeout = 2;
  int DB_Medium_Timeout = 5;
  int DB_Long_Timeout = 20;
  int DB_Retries = 3;
  // True when the registry gave a non-zero value: only then does it win over the
  // connection-string file.
  bool DB_Short_Timeout_Set = false;
  bool DB_Medium_Timeout_Set = false;
  bool DB_Long_Timeout_Set = false;
  bool DB_Retries_Set = false;
  std::string Run_Type;
  int Obfuscate_Msg_Chars = 0;
  // Instant_Pickup: a file landing in the watched folder starts a poll at once, and a poll
  // that found files is followed by the next without waiting for the timer. "false" (any
  // case) turns it off: one poll per timer tick, no folder watch.
  bool Instant_Pickup = true;
  // As the registry has them; their readers convert them (logging/monitor_link.h,
  // logging/named_settings.h, the worked-files retention of intake).
  std::string Worked_Files_Retention_Days;
  std::string Sched_Run;
  std::string VTM_Enabled;
  std::string VTM_Port;
  std::array<std::string, 3> VTM_IP;  // VTM_IP1..3

  // Log_Dir, or the default log folder when it is empty: the log files and the bad folder
  // go there (the working folder of a service is "/").
  // The values a run is bound to from its start (folders, database connection, run type),
  // taken from start; the names of those that differ from start's. The others stay as read.
  std::string keep_run_bound(const RegistrySettings& start);

  std::string log_folder() const { return Log_Dir.empty() ? std::string(kDefaultLogFolder) : Log_Dir; }
  static constexpr const char* kDefaultLogFolder = "/var/log/velotrax/";
};

// Registry keys of the product.
inline constexpr const char* kVelotraxKey = "SOFTWARE\\Wyndrose\\Velotrax";
inline constexpr const char* kServicesKey = "SOFTWARE\\Wyndrose\\Velotrax\\Services";
inline constexpr const char* kMonitorKey = "SOFTWARE\\Wyndrose\\Velotrax\\Monitor";

// Reads every setting from the file, in the documented order; never fails.
RegistrySettings read_registry_settings(const platform::RegistryFile& file);

// Decodes the stored form of DB_Password (groups of three digits, bit-reversed codes, in
// reverse order).
std::string decode_db_password(const std::string& stored);
// The two conversions the decoding is made of.
std::string tobinary(long value);
long todecimal(const std::string& binary_digits);

}  // namespace dexweb
