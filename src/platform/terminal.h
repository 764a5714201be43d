#pragma once
// Whether an output of the process is a terminal (colour and such make sense there).

namespace dexweb::platform {

bool is_terminal(int fd);

}  // namespace dexweb::platform
