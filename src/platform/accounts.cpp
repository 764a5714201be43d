#include "platform/accounts.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace dexweb::platform {
namespace {

struct AccountIds {
  uid_t uid;
  gid_t gid;
};

std::optional<AccountIds> account_ids(const std::string& account) {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwnam_r(account.c_str(), &pw, buf.data(), buf.size(), &found) != 0 || !found) return std::nullopt;
  return AccountIds{pw.pw_uid, pw.pw_gid};
}

std::string account_name(uid_t uid) {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found) return {};
  return pw.pw_name;
}

int access_mode(AccessKind kind) {
  switch (kind) {
    case AccessKind::Read: return R_OK;
    case AccessKind::Execute: return X_OK;
    case AccessKind::WriteFolder: return W_OK | X_OK;
  }
  return F_OK;
}

}  // namespace

std::optional<std::string> owner_account(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  std::string name = account_name(st.st_uid);
  if (name.empty()) return std::nullopt;
  return name;
}

std::string current_account() { return account_name(::geteuid()); }

Access access_as(const std::string& path, const std::string& account, AccessKind kind) {
  const auto ids = account_ids(account);
  if (!ids) return Access::Unknown;
  const int mode = access_mode(kind);
  if (ids->uid == ::geteuid() && ::geteuid() != 0) return ::access(path.c_str(), mode) == 0 ? Access::Yes : Access::No;
  if (::geteuid() != 0) return Access::Unknown;
  const pid_t child = ::fork();
  if (child < 0) return Access::Unknown;
  if (child == 0) {
    // The child becomes the account (groups first, the user last) and asks the kernel.
    if (::initgroups(account.c_str(), ids->gid) != 0 || ::setgid(ids->gid) != 0 || ::setuid(ids->uid) != 0) ::_exit(2);
    ::_exit(::access(path.c_str(), mode) == 0 ? 0 : 1);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return Access::Unknown;
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 2) return Access::Unknown;
  return WEXITSTATUS(status) == 0 ? Access::Yes : Access::No;
}

}  // namespace dexweb::platform
