#include "platform/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>

#include "platform/fd.h"

namespace dexweb::platform {

bool send_udp(const std::string& host, int port, std::string_view payload) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  if (port <= 0 || port > 65535 || ::inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1) return false;
  Fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!sock) return false;
  return ::sendto(sock.get(), payload.data(), payload.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0;
}

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
