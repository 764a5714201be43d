#pragma once
// A temporary folder for one test, removed with everything in it at the end.

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace dexweb::test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dexweb-test.XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder with a trailing '/', as the module's folder settings are written.
  std::string dir() const { return path_ + "/"; }
  std::string file(const std::string& name) const { return dir() + name; }

 private:
  std::string path_;
};

inline void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The names in a folder, sorted; none when it is missing. The module's claim folder in a
// watched folder (".dexweb") is not counted.
inline std::vector<std::string> files_in(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    if (entry.path().filename() != ".dexweb") names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A registry file holding the given value lines under the product key and its sub-keys.
inline std::string registry_text(const std::string& main_values, const std::string& services_values = "",
                                 const std::string& monitor_values = "") {
  return "Windows Registry Editor Version 5.00\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax]\r\n" + main_values +
         "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax\\Services]\r\n" + services_values +
         "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax\\Monitor]\r\n" + monitor_values;
}

}  // namespace dexweb::test
