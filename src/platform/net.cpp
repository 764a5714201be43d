#include "platform/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>

namespace dexweb::platform {

std::string resolve_host_ipv4(std::string_view name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (name.empty() || ::getaddrinfo(std::string(name).c_str(), nullptr, &hints, &found) != 0) return {};
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, ::freeaddrinfo);
  char buf[INET_ADDRSTRLEN] = {};
  auto* in = reinterpret_cast<sockaddr_in*>(found->ai_addr);
  return ::inet_ntop(AF_INET, &in->sin_addr, buf, sizeof buf) ? buf : "";
}

}  // namespace dexweb::platform
