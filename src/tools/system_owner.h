#pragma once
// Handing a production home to the service's account and letting the web writers share its
// watched folder, through the system's own tools (groupadd, chown, chmod) and POSIX ACLs, as a
// package's scripts would. Accounts and groups are those of the home's root (an image has its
// own).

#include <optional>
#include <string>

#include "platform/accounts.h"
#include "tools/gateway_home.h"

namespace dexweb::ctl {

// The account the packaged unit runs as, and the group of the accounts that write the
// watched folder (the web server's).
inline constexpr const char* kServiceAccount = "velotrax";
inline constexpr const char* kWebGroup = "velotrax-web";

// The web writers' group of the home's root: found, else made (groupadd --system). Raises
// RuntimeError naming the command that failed.
unsigned web_group(const HomeLayout& home, const std::string& name);

// Gives the data and log folders (with all they hold) to the account and its group, and the
// registry folder and file to root with the account's group; folders 0750, files 0640. The
// watched folder becomes the account's with the web group, mode 2770 (setgid: what the web
// writers create there belongs to the group). Raises RuntimeError naming what failed.
void hand_over(const HomeLayout& home, platform::AccountNumbers account, unsigned web_gid);

// The ACLs that complete the sharing: the watched folder's default ACL gives the account read
// access to every file written there (its folder lets it delete them), and the web group may
// pass through the data folder. Raises RuntimeError where the file system has no ACLs.
void grant_web_access(const HomeLayout& home, platform::AccountNumbers account, unsigned web_gid);

}  // namespace dexweb::ctl
