#pragma once
// The commands of dexwebctl. Each takes the words after its name and returns the exit
// status; bad usage raises UsageError, failures RuntimeError.

#include <string>
#include <vector>

namespace dexweb::ctl {

// init DIR [--port N]: makes a gateway home in DIR and prints the line that points the
// module at it.
int run_init(const std::vector<std::string>& args);
// submit [--home DIR | --folder F] --user U [--from F] [--to LIST] [--message TEXT]: writes a
// message file into the watched folder (of the registry in effect when neither is given)
// and prints its path.
int run_submit(const std::vector<std::string>& args);

}  // namespace dexweb::ctl
