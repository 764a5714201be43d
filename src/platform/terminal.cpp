#include "platform/terminal.h"

#include <unistd.h>

namespace dexweb::platform {

bool is_terminal(int fd) { return ::isatty(fd) == 1; }

}  // namespace dexweb::platform
