#include "platform/internal/process_probe.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

namespace dexweb::platform {

std::vector<int> processes_named(std::string_view name) {
  std::vector<int> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string pid = entry.path().filename();
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
    std::ifstream comm(entry.path() / "comm");
    std::string command;
    if (std::getline(comm, command) && command == name) found.push_back(std::stoi(pid));
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace dexweb::platform
