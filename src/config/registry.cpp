#include "config/registry.h"

#include "platform/registry_file.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

constexpr std::string_view kLocalMachine = "HKEY_LOCAL_MACHINE\\";

std::string full_key(std::string_view key_path) { return std::string(kLocalMachine) + std::string(key_path); }

platform::RegistryFile registry() { return platform::RegistryFile(platform::RegistryFile::default_path()); }

}  // namespace

std::string query_value(std::string_view key_path, std::string_view value_name) {
  auto value = registry().read(full_key(key_path), value_name);
  if (!value) return {};
  if (auto* s = std::get_if<std::string>(&*value)) return *s;
  return std::to_string(std::get<std::uint32_t>(*value));
}

bool value_exists(std::string_view key_path, std::string_view value_name) {
  return registry().read(full_key(key_path), value_name).has_value();
}

void set_key_value(std::string_view key_path, std::string_view value_name,
                 const std::variant<std::string, std::uint32_t>& value) {
  try {
    registry().write(full_key(key_path), value_name, value);
  } catch (const RuntimeError&) {
    // Registry writes are best effort.
  }
}

}  // namespace dexweb
