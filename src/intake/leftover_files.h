#pragma once
// Web files that this run is done with but that stay in the watched folder: files worked
// but not deleted (working one again would insert its rows again) and files that could not
// be read. The scan passes them over while they stay as they were (same name, size and
// modification time). The main form owns one for the whole run.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace dexweb {

class LeftoverFiles {
 public:
  // Notes the file as it is now; false when it is gone (nothing to note).
  bool Remember(const std::string& folder, const std::string& name);
  // True when the file is still as it was noted.
  bool Unchanged(const std::string& folder, const std::string& name) const;
  // Forgets every file but the named ones of folder (the others have left it).
  void KeepOnly(const std::string& folder, const std::vector<std::string>& names);
  int Count() const { return static_cast<int>(files_.size()); }

 private:
  struct Stamp {
    std::uint64_t size = 0;
    platform::TimePoint modified;
    bool operator==(const Stamp&) const = default;
  };
  std::map<std::string, Stamp> files_;  // keyed by folder + name
};

}  // namespace dexweb
