#pragma once
// Facts about the machine the module runs on.

#include <cstddef>

namespace dexweb::platform {

// The memory page size in bytes, or 0 when the system does not report one.
std::size_t page_size();

}  // namespace dexweb::platform
