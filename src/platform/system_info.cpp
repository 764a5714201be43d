#include "platform/system_info.h"

#include <unistd.h>

namespace dexweb::platform {

std::size_t page_size() {
  long size = ::sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<std::size_t>(size) : 0;
}

}  // namespace dexweb::platform
