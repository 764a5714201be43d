#pragma once
// Every registry value that the gateway's modules keep in the three keys DexWeb reads, and
// how DexWeb reads those that are its own: one table, and the conversions that the module's
// readers use. `dexwebctl check` judges each value with the same conversions, so that what
// it approves is what the module does.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace dexweb {

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
