#include "tools/module_presence.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "platform/instance_lock.h"
#include "util/runtime_error.h"
#include "tools/text_lines.h"

namespace dexweb::ctl {
namespace {

std::optional<PollState> read_state(const std::string& folder, const std::string& registry_path) {
  const std::string path = platform::InstanceLock::state_path(folder, registry_path);
  const auto info = platform::stat_path(path);
  if (!info || !info->is_regular) return std::nullopt;
  try {
    return parse_poll_state(platform::read_file(path, 4096));
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
}

}  // namespace

std::vector<std::string> lock_folders(const std::string& registry_path, const std::string& db_dir) {
  std::vector<std::string> folders;
  const auto add = [&](const std::string& folder) {
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  };
  add(platform::instance_lock_folder(db_dir, registry_path));
  add(kServiceRuntimeFolder);
  if (!db_dir.empty()) {
    add(db_dir + (db_dir.back() == '/' ? "" : "/") + "lock/");
  } else {
    const std::size_t slash = registry_path.rfind('/');
    add((slash == std::string::npos ? std::string("./") : registry_path.substr(0, slash + 1)) + "lock/");
  }
  return folders;
}

ModulePresence find_module(const std::string& registry_path, const std::string& db_dir) {
  ModulePresence presence;
  for (const std::string& folder : lock_folders(registry_path, db_dir)) {
    const platform::InstanceLock::Holder holder = platform::InstanceLock::holder(folder, registry_path);
    if (holder.pid) {
      presence.pid = *holder.pid;
      presence.poll = read_state(folder, registry_path);
      presence.unknown.clear();
      return presence;
    }
    if (holder.error != 0 && presence.unknown.empty())
      presence.unknown = "cannot read the lock folder " + folder + ": " + std::strerror(holder.error) +
                         " (ask as root or as the module's account)";
    if (!presence.poll) presence.poll = read_state(folder, registry_path);
  }
  return presence;
}

std::optional<PollState> parse_poll_state(const std::string& text) {
  PollState state;
  bool found = false;
  for (const std::string& line : split_lines(text)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string name = line.substr(0, eq);
    const long long value = std::strtoll(line.c_str() + eq + 1, nullptr, 10);
    if (name == "last_poll") {
      state.last_poll = value;
      found = true;
    } else if (name == "poll_interval") {
      state.poll_interval = static_cast<long>(value);
    } else if (name == "accepted") {
      state.accepted = value;
    } else if (name == "refused") {
      state.refused = value;
    } else if (name == "waiting") {
      state.waiting = static_cast<std::size_t>(std::max(0LL, value));
    } else if (name == "unreadable") {
      state.unreadable = std::max(0LL, value);
    }
  }
  if (!found) return std::nullopt;
  return state;
}

}  // namespace dexweb::ctl
