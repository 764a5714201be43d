#include "tools/system_owner.h"

#include <chrono>

#include "platform/process.h"
#include "util/runtime_error.h"

namespace dexweb::ctl {
namespace {

constexpr std::chrono::seconds kToolLimit{60};

bool succeeds(const std::vector<std::string>& argv) {
  const platform::ProgramRun run = platform::run_and_wait(argv, kToolLimit);
  return run.end == platform::ProgramRun::End::Exited && run.code == 0;
}

void must(const std::vector<std::string>& argv) {
  if (succeeds(argv)) return;
  std::string command;
  for (const std::string& word : argv) command += (command.empty() ? "" : " ") + word;
  throw RuntimeError(err::kPermissionDenied, "Command failed: " + command);
}

}  // namespace

// getent prints the entry it finds; only its status matters here. The name is an argument
// of the script, never part of it.
bool account_exists(const std::string& account) {
  return succeeds({"sh", "-c", "getent passwd \"$1\" >/dev/null", "getent", account});
}

void hand_over(const HomeLayout& home, const std::string& account) {
  const std::string data = on_disk(home, home.data), log = on_disk(home, home.log);
  const std::string etc = on_disk(home, home.home), registry = on_disk(home, home.registry);
  must({"chown", "-R", account + ":", "--", data, log});
  // Folders keep their search bit for the group; files lose everything for others.
  must({"chmod", "-R", "u+rwX,g+rX,g-w,o-rwx", "--", data, log});
  // The account's group, as the data folder now has it, then root as the owner.
  must({"chown", "--reference=" + data, "--", etc, registry});
  must({"chown", "root", "--", etc, registry});
  must({"chmod", "0750", "--", etc});
  must({"chmod", "0640", "--", registry});
}

}  // namespace dexweb::ctl
