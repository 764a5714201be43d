#include "config/registry.h"

#include <algorithm>

#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::string_view kLocalMachine = "HKEY_LOCAL_MACHINE\\";
constexpr std::string_view kSoftware = "SOFTWARE\\";
constexpr std::string_view kWow64Branch = "WOW6432Node\\";

std::string full_key(std::string_view key_path) { return std::string(kLocalMachine) + std::string(key_path); }

bool in_product_branch(std::string_view key_path) {
  const std::string_view product = kVelotraxKey;
  return text::istarts_with(key_path, product) &&
         (key_path.size() == product.size() || key_path[product.size()] == '\\');
}

// The two conversions the password decoding is made of.
std::string tobinary(long value) {
  std::string digits;
  for (int power = 8; power >= 0; --power) {
    long weight = 1L << power;
    long q = value / weight;
    digits += std::to_string(q);
    value -= q * weight;
  }
  return digits.size() > 8 ? digits.substr(digits.size() - 8) : digits;
}

long todecimal(const std::string& binary_digits) {
  long value = 0, weight = 1;
  for (auto it = binary_digits.rbegin(); it != binary_digits.rend(); ++it, weight *= 2)
    if (*it >= '0' && *it <= '9') value += (*it - '0') * weight;
  return value;
}

}  // namespace

std::string key_read_for(const platform::RegistryFile& file, std::string_view key_path) {
  if (!in_product_branch(key_path) || file.key_exists(full_key(key_path))) return std::string(key_path);
  const std::string wow = std::string(kSoftware) + std::string(kWow64Branch) + std::string(key_path.substr(kSoftware.size()));
  return file.key_exists(full_key(wow)) ? wow : std::string(key_path);
}

std::string query_value(const platform::RegistryFile& file, std::string_view key_path, std::string_view value_name) {
  auto value = file.read(full_key(key_read_for(file, key_path)), value_name);
  if (!value) return {};
  if (auto* s = std::get_if<std::string>(&*value)) return *s;
  return std::to_string(std::get<std::uint32_t>(*value));
}

bool value_exists(const platform::RegistryFile& file, std::string_view key_path, std::string_view value_name) {
  return file.read(full_key(key_read_for(file, key_path)), value_name).has_value();
}

RegistrySettings read_registry_settings(const platform::RegistryFile& file) {
  const auto value = [&](const char* key, std::string_view name) { return query_value(file, key, name); };
  const auto numeric = [&](const char* name, int fallback, int& field, bool& set) {
    int v = registry_int32(value(kVelotraxKey, name));
    set = v != 0;
    field = set ? v : fallback;
  };
  RegistrySettings s;
  s.file = file.path();
  s.key_read = key_read_for(file, kVelotraxKey);
  s.Prog_Dir = value(kVelotraxKey, "Prog_Dir");
  s.DB_Dir = value(kVelotraxKey, "DB_Dir");
  s.Log_Dir = value(kVelotraxKey, "Log_Dir");
  s.DB_Password = decode_db_password(value(kVelotraxKey, "DB_Password"));
  s.SyncTimeWithServer = true;
  if (value_exists(file, kVelotraxKey, "SyncTimeWithServer"))
    s.SyncTimeWithServer = registry_true(value(kVelotraxKey, "SyncTimeWithServer"));
  numeric("DB_Short_Timeout", 2, s.DB_Short_Timeout, s.DB_Short_Timeout_Set);
  numeric("DB_Medium_Timeout", 5, s.DB_Medium_Timeout, s.DB_Medium_Timeout_Set);
  numeric("DB_Long_Timeout", 20, s.DB_Long_Timeout, s.DB_Long_Timeout_Set);
  numeric("DB_Retries", 3, s.DB_Retries, s.DB_Retries_Set);
  s.Run_Type = value(kServicesKey, "Run_Type");
  s.Obfuscate_Msg_Chars = registry_int32(value(kVelotraxKey, "Obfuscate_Msg_Chars"));
  s.Instant_Pickup = !registry_false(value(kVelotraxKey, "Instant_Pickup"));
  s.Worked_Files_Retention_Days = value(kVelotraxKey, "Worked_Files_Retention_Days");
  s.Sched_Run = value(kServicesKey, "Sched_Run");
  s.VTM_Enabled = value(kMonitorKey, "VTM_Enabled");
  s.VTM_Port = value(kMonitorKey, "VTM_Port");
  for (std::size_t i = 0; i < s.VTM_IP.size(); ++i) s.VTM_IP[i] = value(kMonitorKey, "VTM_IP" + std::to_string(i + 1));
  return s;
}

std::string RegistrySettings::keep_run_bound(const RegistrySettings& start) {
  std::string changed;
  const auto keep = [&](const char* name, auto& field, const auto& kept) {
    if (field == kept) return;
    changed += changed.empty() ? name : std::string(", ") + name;
    field = kept;
  };
  keep("Prog_Dir", Prog_Dir, start.Prog_Dir);
  keep("DB_Dir", DB_Dir, start.DB_Dir);
  keep("Log_Dir", Log_Dir, start.Log_Dir);
  keep("DB_Password", DB_Password, start.DB_Password);
  keep("DB_Short_Timeout", DB_Short_Timeout, start.DB_Short_Timeout);
  keep("DB_Medium_Timeout", DB_Medium_Timeout, start.DB_Medium_Timeout);
  keep("DB_Long_Timeout", DB_Long_Timeout, start.DB_Long_Timeout);
  keep("DB_Retries", DB_Retries, start.DB_Retries);
  DB_Short_Timeout_Set = start.DB_Short_Timeout_Set;
  DB_Medium_Timeout_Set = start.DB_Medium_Timeout_Set;
  DB_Long_Timeout_Set = start.DB_Long_Timeout_Set;
  DB_Retries_Set = start.DB_Retries_Set;
  keep("Run_Type", Run_Type, start.Run_Type);
  file = start.file;
  return changed;
}

std::string decode_db_password(const std::string& stored) {
  std::string decoded;
  for (std::size_t i = 0; i < stored.size(); i += 3) {
    // A group that is not a number counts as its leading digits (0 when none), so that a
    // garbled value yields a wrong password instead of stopping the module at start.
    std::string group = stored.substr(i, 3);
    long value = 0;
    for (char c : group) {
      if (c < '0' || c > '9') break;
      value = value * 10 + (c - '0');
    }
    std::string bits = tobinary(value);
    std::reverse(bits.begin(), bits.end());
    decoded += static_cast<char>(todecimal(bits) & 0xFF);
  }
  std::reverse(decoded.begin(), decoded.end());
  // Codes above 127 are Windows-1252 characters of the stored password.
  return text::decode_bytes(decoded);
}

}  // namespace dexweb
