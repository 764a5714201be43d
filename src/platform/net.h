#pragma once
// UDP datagrams and host-name lookup. Nothing here throws.

#include <string>
#include <string_view>

namespace dexweb::platform {

// Sends one datagram to host (dotted IPv4) and port; false when it could not be sent.
bool send_udp(const std::string& host, int port, std::string_view payload);
// The first IPv4 address of name as a dotted quad, or empty text.
std::string resolve_host_ipv4(std::string_view name);

}  // namespace dexweb::platform
