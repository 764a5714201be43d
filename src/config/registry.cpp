#include "config/registry.h"

#include "config/registry_settings.h"
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

}  // namespace dexweb
