#pragma once
// The registry of the platform: one text file in the registry export format
// ("Windows Registry Editor Version 5.00" or "REGEDIT4"; [KEY] lines; "Name"="text" in which
// a backslash escapes a backslash or a double quote; "Name"=dword:hex; ';' comments). Key paths and value names compare
// without regard to case. A missing file is an empty registry. A file that starts with the
// UTF-16 LE mark is UTF-16 (an unpaired surrogate reads as U+FFFD); any other is read as
// UTF-8, with bytes that are not UTF-8 taken as Windows-1252. Lines end at CR LF, LF or a
// lone CR alike, and "[]" is the key line of the empty key path, for reading and writing.

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
  // Raises the file error (53..76, with the system's reason) when the file exists but cannot
  // be read, which read() would take for an empty registry. A missing file raises nothing.
  void require_readable() const;
  // Sets the value where read() finds it (else last in the key's first section, else in a
  // new section at the end), keeping every other line; the file is rewritten atomically
  // (written beside, then renamed) as UTF-8 with LF line ends. Raises RuntimeError when the
  // file cannot be written, or error 5 when key, name or text value holds a CR or LF.
  void write(std::string_view key, std::string_view name, const RegData& value) const;

 private:
  std::string path_;
};

}  // namespace dexweb::platform
