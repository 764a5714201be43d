#pragma once
// Handing a production home to the service's account, through the system's own tools
// (getent, chown, chmod), as a package's scripts would.

#include <string>

#include "tools/gateway_home.h"

namespace dexweb::ctl {

// The account the packaged unit runs as.
inline constexpr const char* kServiceAccount = "velotrax";

// True when the system knows the account.
bool account_exists(const std::string& account);

// Gives the data and log folders (with all they hold) to the account and its group, and the
// registry folder and file to root with the account's group; folders 0750, files 0640.
// Raises RuntimeError naming the command that failed.
void hand_over(const HomeLayout& home, const std::string& account);

}  // namespace dexweb::ctl
