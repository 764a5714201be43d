#pragma once
// The product's registry as the module reads it. Key paths and value names compare without
// regard to case; every value reads as text (a DWORD as its decimal text); anything missing
// reads as empty text. Backed by the registry file of the platform.
//
// A registry exported on 64-bit Windows holds a 32-bit program's branch under
// "SOFTWARE\WOW6432Node\...": a key of the product's branch that the file lacks is read from
// there when the file has it (the product's branch wins where both exist).
//
// The module reads its settings once at start, and again into a new copy when the operator
// asks (SIGHUP). Nothing else of the module reads the registry. The table of every value the
// gateway's modules keep in the three keys, and the conversions the module's readers use,
// are here too: `dexwebctl check` judges each value with the same conversions, so that what
// it approves is what the module does.

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/registry_file.h"

namespace dexweb {

struct RegistrySettings {
  std::string file;  // the registry file they were read from
  // The key the product's values were read from: kVelotraxKey, or its WOW6432Node twin
  // (key_read_for).
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
  // As the registry has them; their readers convert them (logging/monitor_link.h, the
  // worked-files retention of intake).
  std::string Worked_Files_Retention_Days;
  std::string Sched_Run;
  std::string VTM_Enabled;
  std::string VTM_Port;
  std::array<std::string, 3> VTM_IP;  // VTM_IP1..3

  // The values a run is bound to from its start (folders, database connection, run type),
  // taken from start; the names of those that differ from start's. The others stay as read.
  std::string keep_run_bound(const RegistrySettings& start);

  // Log_Dir, or the default log folder when it is empty: the log files and the bad folder
  // go there (the working folder of a service is "/").
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

// The value's text, or empty text when the key or the value is missing.
std::string query_value(const platform::RegistryFile& file, std::string_view key_path, std::string_view value_name);
// True when the key exists and holds the value.
bool value_exists(const platform::RegistryFile& file, std::string_view key_path, std::string_view value_name);

// The key (below HKEY_LOCAL_MACHINE) that reads of key_path go to in this file: key_path
// itself, or its WOW6432Node twin when only that exists.
std::string key_read_for(const platform::RegistryFile& file, std::string_view key_path);

// The text as a 32-bit integer (rounded half to even); 0 when missing, not a number or out
// of range.
int registry_int32(std::string_view text);
// The whole number the text spells when it lies in [low, high]; nullopt otherwise.
std::optional<long> registry_whole_number(std::string_view text, long low, long high);
// "true" in any case, blanks around it allowed.
bool registry_true(std::string_view text);
// "false" in any case, blanks around it allowed.
bool registry_false(std::string_view text);
// "true"/"false" in any case, or a number (non-zero is true); anything else is false.
bool registry_flag(std::string_view text);
// Four dotted decimal parts of 0 to 255, blanks around allowed.
bool is_ipv4(std::string_view text);
// The port number of the text, or 0 (which no send accepts) when it is none.
int registry_port(std::string_view text);

struct RegistryValue {
  const char* key;   // kVelotraxKey, kServicesKey or kMonitorKey
  const char* name;
  // What is wrong with the value's text as the module reads it, and what the module does
  // instead; nullopt when the module takes it as meant. Null for the values of the
  // gateway's other modules, which DexWeb does not read.
  std::optional<std::string> (*problem)(std::string_view text);
};

// The table, in the order of the keys.
std::span<const RegistryValue> registry_values();
// The row of the value in the key (key and name compared without regard to case); null for
// a value no module keeps there.
const RegistryValue* find_registry_value(std::string_view key, std::string_view name);

}  // namespace dexweb
