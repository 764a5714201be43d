#pragma once
// Local accounts as the operator's checks need them: who owns a file, and what another
// account may do with a folder.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace dexweb::platform {

// An account's numbers in an account database.
struct AccountNumbers {
  unsigned uid = 0;
  unsigned gid = 0;  // its primary group
};
// The account, or the group's number, in the account database of root: the system's (through
// NSS) for "" or "/", else root + "/etc/passwd" and root + "/etc/group" (an image's own).
// nullopt when it has none of that name.
std::optional<AccountNumbers> find_account(const std::string& root, const std::string& name);
std::optional<unsigned> find_group(const std::string& root, const std::string& name);

// A named entry of a POSIX ACL: an account (or a group) and its permissions (4 read, 2 write,
// 1 execute or search).
struct AclGrant {
  bool group = false;
  unsigned id = 0;
  unsigned perms = 0;
};
// Sets the access ACL of path (or with for_new_files, its default ACL, which a folder hands
// to what is created in it): the owner, group and others entries as the path's mode says
// them, the grants, and a mask that lets all of them through. Raises the file error (a file
// system without ACLs: error 75 "Operation not supported").
void set_acl(const std::string& path, bool for_new_files, const std::vector<AclGrant>& grants);

// Who owns a path and its permission bits, as an operator reads them.
struct Ownership {
  std::string owner;  // the account's name, else its number
  std::string group;  // the group's name, else its number
  unsigned mode = 0;  // the permission bits (07777)
};
// nullopt when the path cannot be examined (a link itself is described, not followed).
std::optional<Ownership> ownership(const std::string& path);
// The name of the account this process runs as; empty when it has none.
std::string current_account();

enum class Access { Yes, No, Unknown };
enum class AccessKind {
  Read,         // read a file
  Execute,      // run a program
  WriteFolder,  // create and remove files in a folder (write and search)
};
// Whether account may do that with path (its groups included), asked of the kernel by a
// child process that takes on the account. Unknown when the account does not exist, or when
// this process may not take it on (not root and another account).
Access access_as(const std::string& path, const std::string& account, AccessKind kind);
// Runs action in a child process that has taken on the account (its groups included): Yes
// when action returned true, No when it returned false or raised; Unknown as for access_as.
Access as_account(const std::string& account, const std::function<bool()>& action);

}  // namespace dexweb::platform
