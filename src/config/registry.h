#pragma once
// The product's registry, as the modules read it: key paths and value names compare without
// regard to case; every value reads as text (a DWORD as its decimal text); anything missing
// reads as empty text. Backed by the registry file of the platform.
//
// A registry exported on 64-bit Windows holds a 32-bit program's branch under
// "SOFTWARE\WOW6432Node\...": a key of the product's branch that the file lacks is read from
// there when the file has it (the product's branch wins where both exist).

#include <string>
#include <string_view>

#include "platform/registry_file.h"

namespace dexweb {

// The value's text, or empty text when the key or the value is missing.
std::string query_value(const platform::RegistryFile& file, std::string_view key_path, std::string_view value_name);
// True when the key exists and holds the value.
bool value_exists(const platform::RegistryFile& file, std::string_view key_path, std::string_view value_name);

// The key (below HKEY_LOCAL_MACHINE) that reads of key_path go to in this file: key_path
// itself, or its WOW6432Node twin when only that exists.
std::string key_read_for(const platform::RegistryFile& file, std::string_view key_path);

}  // namespace dexweb
