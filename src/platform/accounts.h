#pragma once
// Local accounts as the operator's checks need them: who owns a file, and what another
// account may do with a folder.

#include <optional>
#include <string>

namespace dexweb::platform {

// The name of the account that owns path (a link itself is not followed); nullopt when the
// path cannot be examined or the owner has no name.
std::optional<std::string> owner_account(const std::string& path);
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

}  // namespace dexweb::platform
