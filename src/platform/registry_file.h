#pragma once
// The registry of the platform: one text file in the registry export format
// ("Windows Registry Editor Version 5.00" or "REGEDIT4"; [KEY] lines; "Name"="text" in which
// a backslash escapes a backslash or a double quote; "Name"=dword:hex; ';' comments). Key paths and value names compare
// without regard to case. A missing file is an empty registry.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace dexweb::platform {

using RegData = std::variant<std::string, std::uint32_t>;

class RegistryFile {
 public:
  explicit RegistryFile(std::string path) : path_(std::move(path)) {}

  // $VELOTRAX_REGISTRY, else /etc/velotrax/velotrax.reg.
  static std::string default_path();
  const std::string& path() const { return path_; }

  // key is the full path, e.g. "HKEY_LOCAL_MACHINE\SOFTWARE\Wyndrose\Velotrax". nullopt when
  // the file, the key or the value is missing or unreadable.
  std::optional<RegData> read(std::string_view key, std::string_view name) const;
  bool key_exists(std::string_view key) const;
  // Sets the value, keeping every other line; the file is rewritten atomically (written
  // beside, then renamed). Raises RuntimeError when the file cannot be written.
  void write(std::string_view key, std::string_view name, const RegData& value) const;

 private:
  std::string path_;
};

}  // namespace dexweb::platform
