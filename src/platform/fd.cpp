#include "platform/fd.h"

#include <unistd.h>

namespace dexweb::platform {

void Fd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

}  // namespace dexweb::platform
