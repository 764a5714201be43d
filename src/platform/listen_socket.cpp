#include "platform/listen_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "util/runtime_error.h"

namespace dexweb::platform {
namespace {

constexpr int kBacklog = 512;

[[noreturn]] void fail(const std::string& host, int port, const std::string& why) {
  const std::string shown = host.find(':') == std::string::npos ? host : "[" + host + "]";
  throw RuntimeError(err::kPermissionDenied, "Cannot listen on " + shown + ":" + std::to_string(port) + ": " + why);
}

// An IPv4 address that reached an IPv6 socket as ::ffff:a.b.c.d counts as itself.
bool mapped_ipv4(const sockaddr_in6& in6) { return IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr); }

std::string ipv4_text(const void* address) {
  char text[INET_ADDRSTRLEN] = {};
  return ::inet_ntop(AF_INET, address, text, sizeof text) ? text : "";
}

std::string ipv6_text(const in6_addr& address) {
  char text[INET6_ADDRSTRLEN] = {};
  return ::inet_ntop(AF_INET6, &address, text, sizeof text) ? text : "";
}

std::string authority_text(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(address);
    return ipv4_text(&in.sin_addr) + ":" + std::to_string(ntohs(in.sin_port));
  }
  const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
  const std::string port = ":" + std::to_string(ntohs(in6.sin6_port));
  return mapped_ipv4(in6) ? ipv4_text(&in6.sin6_addr.s6_addr[12]) + port : "[" + ipv6_text(in6.sin6_addr) + "]" + port;
}

std::string peer_group_text(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) return ipv4_text(&reinterpret_cast<const sockaddr_in&>(address).sin_addr);
  const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
  if (mapped_ipv4(in6)) return ipv4_text(&in6.sin6_addr.s6_addr[12]);
  in6_addr network = in6.sin6_addr;
  std::memset(&network.s6_addr[8], 0, 8);
  return ipv6_text(network) + "/64";
}

int bound_port(int socket) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  return ntohs(address.ss_family == AF_INET ? reinterpret_cast<sockaddr_in&>(address).sin_port
                                            : reinterpret_cast<sockaddr_in6&>(address).sin6_port);
}

}  // namespace

ListenSocket::ListenSocket(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (host.empty() || ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
    fail(host, port, "the address is not this machine's");
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, ::freeaddrinfo);
  socket_ = Fd(::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket_) fail(host, port, std::strerror(errno));
  const int yes = 1;
  ::setsockopt(socket_.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (::bind(socket_.get(), found->ai_addr, found->ai_addrlen) != 0)
    fail(host, port, errno == EADDRINUSE ? "another program listens on that port" : std::strerror(errno));
  if (::listen(socket_.get(), kBacklog) != 0) fail(host, port, std::strerror(errno));
  port_ = bound_port(socket_.get());
}

std::optional<AcceptedConnection> ListenSocket::accept() const {
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  Fd socket(::accept4(socket_.get(), reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (!socket) return std::nullopt;
  sockaddr_storage local{};
  size = sizeof local;
  if (::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&local), &size) != 0) return std::nullopt;
  std::string group = peer_group_text(peer);
  std::string at = authority_text(local);
  return AcceptedConnection{std::move(socket), std::move(group), std::move(at)};
}

long receive_some(int socket, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = ::recv(socket, buffer, size, 0);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? kTransferWouldBlock : kTransferFailed;
  }
}

long send_some(int socket, const char* data, std::size_t size) {
  for (;;) {
    const ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<long>(sent);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? kTransferWouldBlock : kTransferFailed;
  }
}

void finish_sending(int socket) { ::shutdown(socket, SHUT_WR); }

Wakeup::Wakeup() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!fd_) throw RuntimeError(err::kTooManyFiles, std::string("Cannot make a wake-up descriptor: ") + std::strerror(errno));
}

void Wakeup::signal() const {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(fd_.get(), &one, sizeof one);
}

void Wakeup::clear() const {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t ignored = ::read(fd_.get(), &count, sizeof count);
}

}  // namespace dexweb::platform
