#include "tools/module_presence.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "platform/files.h"
#include "platform/private_files.h"
#include "util/runtime_error.h"
#include "tools/text_lines.h"

namespace dexweb::ctl {
namespace {

std::optional<PollState> read_state(const std::string& folder) {
  const std::string path = platform::InstanceLock::state_path(folder);
  const auto info = platform::stat_path(path);
  if (!info || !info->is_regular) return std::nullopt;
  try {
    return parse_poll_state(platform::read_file(path, 4096));
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
}

}  // namespace

ModulePresence find_module(const std::string& db_dir) {
  const std::string folder = platform::home_private_folder(db_dir);
  ModulePresence presence;
  const platform::InstanceLock::Holder holder = platform::InstanceLock::holder(folder);
  if (holder.pid) presence.pid = *holder.pid;
  if (!holder.pid && holder.error != 0)
    presence.unknown = "cannot read the lock folder " + folder + ": " + std::strerror(holder.error) +
                       " (ask as root or as the module's account)";
  presence.poll = read_state(folder);
  return presence;
}

std::optional<PollState> parse_poll_state(const std::string& text) {
  static constexpr std::pair<std::string_view, long long PollState::*> kCounts[] = {
      {"last_poll", &PollState::last_poll},
      {"accepted", &PollState::accepted},
      {"refused", &PollState::refused},
      {"messages_accepted", &PollState::messages_accepted},
      {"messages_refused", &PollState::messages_refused}};
  PollState state;
  bool found = false;
  for (const std::string& line : split_lines(text)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string_view name = std::string_view(line).substr(0, eq);
    const long long value = std::strtoll(line.c_str() + eq + 1, nullptr, 10);
    for (const auto& [key, member] : kCounts)
      if (name == key) state.*member = value;
    found = found || name == "last_poll";
    if (name == "poll_interval") state.poll_interval = static_cast<long>(value);
    if (name == "waiting") state.waiting = static_cast<std::size_t>(std::max(0LL, value));
    if (name == "unreadable") state.unreadable = std::max(0LL, value);
  }
  if (!found) return std::nullopt;
  return state;
}

}  // namespace dexweb::ctl
