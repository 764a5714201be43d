#pragma once
// The product's registry, as the modules read it: key paths and value names compare without
// regard to case; every value reads as text (a DWORD as its decimal text); anything missing
// reads as empty text. Backed by the registry file of the platform.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace dexweb {

// The value's text, or empty text when the key or the value is missing.
std::string query_value(std::string_view key_path, std::string_view value_name);
// True when the key exists and holds the value.
bool value_exists(std::string_view key_path, std::string_view value_name);
// Writes a string (REG_SZ) or a number (REG_DWORD); failures are ignored.
void set_key_value(std::string_view key_path, std::string_view value_name,
                 const std::variant<std::string, std::uint32_t>& value);

}  // namespace dexweb
