#include "platform/accounts.h"

#include <grp.h>
#include <linux/posix_acl.h>
#include <linux/posix_acl_xattr.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "util/runtime_error.h"

namespace dexweb::platform {
namespace {

struct AccountIds {
  uid_t uid;
  gid_t gid;
};

// A reentrant passwd or group look-up; `take` copies what it needs while the buffer lives.
template <typename Entry, typename Key, typename Take>
auto look_up(int (*lookup)(Key, Entry*, char*, std::size_t, Entry**), Key key, Take take)
    -> std::optional<decltype(take(std::declval<const Entry&>()))> {
  std::vector<char> buf(16384);
  Entry entry{};
  Entry* found = nullptr;
  if (lookup(key, &entry, buf.data(), buf.size(), &found) != 0 || !found) return std::nullopt;
  return take(*found);
}

std::optional<AccountIds> account_ids(const std::string& account) {
  return look_up(::getpwnam_r, account.c_str(), [](const passwd& pw) { return AccountIds{pw.pw_uid, pw.pw_gid}; });
}

std::string account_name(uid_t uid) {
  return look_up(::getpwuid_r, uid, [](const passwd& pw) { return std::string(pw.pw_name); }).value_or("");
}

std::string group_name(gid_t gid) {
  return look_up(::getgrgid_r, gid, [](const group& gr) { return std::string(gr.gr_name); }).value_or("");
}

int access_mode(AccessKind kind) {
  switch (kind) {
    case AccessKind::Read: return R_OK;
    case AccessKind::Execute: return X_OK;
    case AccessKind::WriteFolder: return W_OK | X_OK;
  }
  return F_OK;
}

bool system_root(const std::string& root) { return root.empty() || root == "/"; }

// The fields of the line of an account file (name:...:...) whose first field is name.
std::optional<std::vector<std::string>> account_file_entry(const std::string& file, const std::string& name) {
  std::string text;
  try {
    text = read_file(file, 1 << 22);
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> fields{""};
    for (std::size_t i = start; i < end; ++i) {
      if (text[i] == ':') fields.emplace_back();
      else fields.back() += text[i];
    }
    if (fields.size() >= 3 && fields[0] == name) return fields;
    start = end + 1;
  }
  return std::nullopt;
}

std::optional<unsigned> number_field(const std::vector<std::string>& fields, std::size_t i) {
  if (i >= fields.size() || fields[i].empty()) return std::nullopt;
  char* end = nullptr;
  const unsigned long n = std::strtoul(fields[i].c_str(), &end, 10);
  if (*end != '\0') return std::nullopt;
  return static_cast<unsigned>(n);
}

}  // namespace

std::optional<AccountNumbers> find_account(const std::string& root, const std::string& name) {
  if (system_root(root)) {
    const auto ids = account_ids(name);
    if (!ids) return std::nullopt;
    return AccountNumbers{ids->uid, ids->gid};
  }
  const auto fields = account_file_entry(root + "/etc/passwd", name);
  if (!fields) return std::nullopt;
  const auto uid = number_field(*fields, 2), gid = number_field(*fields, 3);
  if (!uid || !gid) return std::nullopt;
  return AccountNumbers{*uid, *gid};
}

std::optional<unsigned> find_group(const std::string& root, const std::string& name) {
  if (system_root(root)) {
    return look_up(::getgrnam_r, name.c_str(), [](const group& gr) { return static_cast<unsigned>(gr.gr_gid); });
  }
  const auto fields = account_file_entry(root + "/etc/group", name);
  return fields ? number_field(*fields, 2) : std::nullopt;
}

void set_acl(const std::string& path, bool for_new_files, const std::vector<AclGrant>& grants) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) raise_file_error(errno, "examine " + path);
  struct Entry {
    std::uint16_t tag, perm;
    std::uint32_t id;
  };
  const std::uint32_t undefined = static_cast<std::uint32_t>(ACL_UNDEFINED_ID);
  const auto bits = [&](int shift) { return static_cast<std::uint16_t>((st.st_mode >> shift) & 07); };
  std::uint16_t mask = bits(3);
  std::vector<Entry> entries{{ACL_USER_OBJ, bits(6), undefined}, {ACL_GROUP_OBJ, bits(3), undefined},
                             {ACL_OTHER, bits(0), undefined}};
  for (const AclGrant& g : grants) {
    entries.push_back({static_cast<std::uint16_t>(g.group ? ACL_GROUP : ACL_USER), static_cast<std::uint16_t>(g.perms & 07), g.id});
    mask |= static_cast<std::uint16_t>(g.perms & 07);
  }
  if (!grants.empty()) entries.push_back({ACL_MASK, mask, undefined});
  // The kernel wants the entries by tag, then by id.
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag != b.tag ? a.tag < b.tag : a.id < b.id; });
  std::string value(sizeof(posix_acl_xattr_header), '\0');
  const std::uint32_t version = POSIX_ACL_XATTR_VERSION;
  value.replace(0, sizeof version, reinterpret_cast<const char*>(&version), sizeof version);
  for (const Entry& e : entries) {
    posix_acl_xattr_entry x{e.tag, e.perm, e.id};
    value.append(reinterpret_cast<const char*>(&x), sizeof x);
  }
  const char* name = for_new_files ? "system.posix_acl_default" : "system.posix_acl_access";
  if (::setxattr(path.c_str(), name, value.data(), value.size(), 0) != 0) raise_file_error(errno, "set the ACL of " + path);
}

std::optional<Ownership> ownership(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  std::string owner = account_name(st.st_uid), group = group_name(st.st_gid);
  return Ownership{owner.empty() ? std::to_string(st.st_uid) : owner, group.empty() ? std::to_string(st.st_gid) : group,
                   static_cast<unsigned>(st.st_mode & 07777)};
}

std::string current_account() { return account_name(::geteuid()); }

Access as_account(const std::string& account, const std::function<bool()>& action) {
  const auto ids = account_ids(account);
  if (!ids) return Access::Unknown;
  if (ids->uid == ::geteuid() && ::geteuid() != 0) return action() ? Access::Yes : Access::No;
  if (::geteuid() != 0) return Access::Unknown;
  const pid_t child = ::fork();
  if (child < 0) return Access::Unknown;
  if (child == 0) {
    // The child becomes the account (groups first, the user last) and never returns.
    if (::initgroups(account.c_str(), ids->gid) != 0 || ::setgid(ids->gid) != 0 || ::setuid(ids->uid) != 0) ::_exit(2);
    bool done = false;
    try {
      done = action();
    } catch (...) {
      // Any failure of the action is the answer "no": the child only reports by its status.
    }
    ::_exit(done ? 0 : 1);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return Access::Unknown;
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 2) return Access::Unknown;
  return WEXITSTATUS(status) == 0 ? Access::Yes : Access::No;
}

Access access_as(const std::string& path, const std::string& account, AccessKind kind) {
  const int mode = access_mode(kind);
  return as_account(account, [&] { return ::access(path.c_str(), mode) == 0; });
}

}  // namespace dexweb::platform
