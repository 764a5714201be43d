#include "platform/sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
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

constexpr std::size_t kLargestDatagram = 65536;

[[noreturn]] void fail_udp(const std::string& what) {
  throw RuntimeError(err::kInvalidProcedureCall, what + ": " + std::strerror(errno));
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

UdpReceiver::UdpReceiver(const std::string& address, int port)
    : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  if (port < 0 || port > 65535 || ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1)
    throw RuntimeError(err::kInvalidProcedureCall, "Not a listening address: " + address + ":" + std::to_string(port));
  if (!socket_) fail_udp("UDP socket");
  if (::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
    fail_udp("Cannot listen on " + address + ":" + std::to_string(port));
  socklen_t len = sizeof addr;
  if (::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) fail_udp("UDP socket name");
  port_ = ntohs(addr.sin_port);
}

std::optional<std::string> UdpReceiver::receive(std::chrono::milliseconds timeout) {
  pollfd ready{socket_.get(), POLLIN, 0};
  if (::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
  std::string datagram(kLargestDatagram, '\0');
  const ssize_t got = ::recv(socket_.get(), datagram.data(), datagram.size(), 0);
  if (got < 0) return std::nullopt;
  datagram.resize(static_cast<std::size_t>(got));
  return datagram;
}

bool UdpSender::send(const std::string& host, int port, std::string_view payload) {
  if (port <= 0 || port > 65535) return false;
  if (host_ != host) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, host.c_str(), &parsed) != 1) return false;
    host_ = host;
    address_ = parsed.s_addr;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = address_;
  if (!socket_) socket_ = Fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket_) return false;
  const bool sent = ::sendto(socket_.get(), payload.data(), payload.size(), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0;
  if (!sent) socket_.reset();
  return sent;
}

std::string resolve_host_ipv4(std::string_view name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (name.empty() || ::getaddrinfo(std::string(name).c_str(), nullptr, &hints, &found) != 0) return {};
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, ::freeaddrinfo);
  return ipv4_text(&reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr);
}

}  // namespace dexweb::platform
