#include "config/registry_settings.h"

#include <algorithm>

#include "config/registry.h"
#include "util/text.h"

namespace dexweb {
namespace {

// The text as a 32-bit integer (rounded half to even); 0 when missing, not a number or out
// of range.
int to_int32(const std::string& s) {
  auto n = text::parse_number(s);
  if (!n || *n < -2147483648.5 || *n >= 2147483647.5) return 0;
  return static_cast<int>(text::round_half_even(*n));
}

void read_numeric(const char* name, int fallback, int& field, bool& set) {
  int v = to_int32(query_value(kVelotraxKey, name));
  set = v != 0;
  field = set ? v : fallback;
}

}  // namespace

RegistrySettings read_registry_settings() {
  RegistrySettings s;
  s.Prog_Dir = query_value(kVelotraxKey, "Prog_Dir");
  s.DB_Dir = query_value(kVelotraxKey, "DB_Dir");
  s.Log_Dir = query_value(kVelotraxKey, "Log_Dir");
  s.DB_Password = decode_db_password(query_value(kVelotraxKey, "DB_Password"));
  s.SyncTimeWithServer = true;
  if (value_exists(kVelotraxKey, "SyncTimeWithServer"))
    s.SyncTimeWithServer = text::to_lower(text::trim(query_value(kVelotraxKey, "SyncTimeWithServer"))) == "true";
  read_numeric("DB_Short_Timeout", 2, s.DB_Short_Timeout, s.DB_Short_Timeout_Set);
  read_numeric("DB_Medium_Timeout", 5, s.DB_Medium_Timeout, s.DB_Medium_Timeout_Set);
  read_numeric("DB_Long_Timeout", 20, s.DB_Long_Timeout, s.DB_Long_Timeout_Set);
  read_numeric("DB_Retries", 3, s.DB_Retries, s.DB_Retries_Set);
  s.Run_Type = query_value(kServicesKey, "Run_Type");
  s.Obfuscate_Msg_Chars = to_int32(query_value(kVelotraxKey, "Obfuscate_Msg_Chars"));
  s.Instant_Pickup = text::to_lower(text::trim(query_value(kVelotraxKey, "Instant_Pickup"))) != "false";
  return s;
}

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
