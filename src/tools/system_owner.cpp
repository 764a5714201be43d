#include "tools/system_owner.h"

#include <chrono>

#include "platform/process.h"
#include "util/runtime_error.h"

namespace dexweb::ctl {
namespace {

constexpr std::chrono::seconds kToolLimit{60};
constexpr unsigned kRead = 4, kWrite = 2, kSearch = 1;

void must(const std::vector<std::string>& argv) {
  const platform::ProgramRun run = platform::run_and_wait(argv, kToolLimit);
  if (run.end == platform::ProgramRun::End::Exited && run.code == 0) return;
  std::string command;
  for (const std::string& word : argv) command += (command.empty() ? "" : " ") + word;
  throw RuntimeError(err::kPermissionDenied, "Command failed: " + command);
}

}  // namespace

unsigned web_group(const HomeLayout& home, const std::string& name) {
  if (const auto gid = platform::find_group(home.root, name)) return *gid;
  std::vector<std::string> argv{"groupadd", "--system"};
  if (!home.root.empty()) argv.insert(argv.end(), {"--prefix", home.root});
  argv.insert(argv.end(), {"--", name});
  must(argv);
  if (const auto gid = platform::find_group(home.root, name)) return *gid;
  throw RuntimeError(err::kFileNotFound, "The group " + name + " was made but cannot be found");
}

// Numbers, not names: the accounts are the root's, which the host may not know.
void hand_over(const HomeLayout& home, platform::AccountNumbers account, unsigned web_gid) {
  const std::string data = on_disk(home, home.data), log = on_disk(home, home.log), web = on_disk(home, home.web);
  const std::string etc = on_disk(home, home.home), registry = on_disk(home, home.registry);
  const std::string uid = std::to_string(account.uid), gid = std::to_string(account.gid);
  must({"chown", "-R", uid + ":" + gid, "--", data, log});
  // Folders keep their search bit for the group; files lose everything for others.
  must({"chmod", "-R", "u+rwX,g+rX,g-w,o-rwx", "--", data, log});
  must({"chown", "0:" + gid, "--", etc, registry});
  must({"chmod", "0750", "--", etc});
  must({"chmod", "0640", "--", registry});
  must({"chown", uid + ":" + std::to_string(web_gid), "--", web});
  must({"chmod", "2770", "--", web});
}

void grant_web_access(const HomeLayout& home, platform::AccountNumbers account, unsigned web_gid) {
  platform::set_acl(on_disk(home, home.web), true, {{false, account.uid, kRead | kWrite | kSearch}});
  platform::set_acl(on_disk(home, home.data), false, {{true, web_gid, kSearch}});
}

}  // namespace dexweb::ctl
