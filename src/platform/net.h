#pragma once
// Host-name lookup. Nothing here throws.

#include <string>
#include <string_view>

namespace dexweb::platform {

// The first IPv4 address of name as a dotted quad, or empty text.
std::string resolve_host_ipv4(std::string_view name);

}  // namespace dexweb::platform
