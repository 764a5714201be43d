#pragma once
// HTTP as a hostile client speaks it: raw TCP connections from chosen loopback addresses
// (all of 127.0.0.0/8 is this machine's, so each test client can have an address of its
// own), bytes sent as the test likes, answers read within a time limit; and the peak memory
// of a process.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace dexweb::test {

// A blocking connection from source ("127.x.y.z", or "::1" for IPv6) to port on the same
// family's loopback address; an empty Fd when it failed.
inline platform::Fd connect_from(const std::string& source, int port) {
  const bool v6 = source.find(':') != std::string::npos;
  platform::Fd sock(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_storage from{}, to{};
  if (v6) {
    auto& f = reinterpret_cast<sockaddr_in6&>(from);
    auto& t = reinterpret_cast<sockaddr_in6&>(to);
    f.sin6_family = t.sin6_family = AF_INET6;
    ::inet_pton(AF_INET6, source.c_str(), &f.sin6_addr);
    t.sin6_addr = in6addr_loopback;
    t.sin6_port = htons(static_cast<std::uint16_t>(port));
  } else {
    auto& f = reinterpret_cast<sockaddr_in&>(from);
    auto& t = reinterpret_cast<sockaddr_in&>(to);
    f.sin_family = t.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &f.sin_addr);
    t.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    t.sin_port = htons(static_cast<std::uint16_t>(port));
  }
  const socklen_t size = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (!sock || ::bind(sock.get(), reinterpret_cast<sockaddr*>(&from), size) != 0 ||
      ::connect(sock.get(), reinterpret_cast<sockaddr*>(&to), size) != 0)
    return {};
  return sock;
}

// Whether anything (or the end) can be read within seconds.
inline bool readable(int fd, double seconds) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(seconds * 1000)) > 0;
}

// What arrives until the server closes or seconds pass.
inline std::string read_answer(int fd, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::string answer;
  char buffer[16384];
  for (;;) {
    const double left = std::chrono::duration<double>(until - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !readable(fd, left)) return answer;
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return answer;
    answer.append(buffer, static_cast<std::size_t>(got));
  }
}

// Sends head, then piece again and again up to total bytes, and stops sending as soon as the
// server answers or closes; returns the answer (read until the server closes, or seconds).
inline std::string send_until_answered(int fd, std::string_view head, std::string_view piece, std::size_t total,
                                       double seconds = 20) {
  std::string out(head);
  std::size_t queued = 0;
  for (;;) {
    if (out.empty() && queued < total) {
      out = piece;
      queued += piece.size();
    }
    pollfd p{fd, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0};
    if (::poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0 || (p.revents & (POLLIN | POLLHUP | POLLERR))) break;
    const ssize_t sent = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
    if (sent < 0) break;
    out.erase(0, static_cast<std::size_t>(sent));
  }
  return read_answer(fd, seconds);
}

// The status code of an answer ("HTTP/1.1 413 ..." gives 413), 0 when there is none.
inline int status_of(const std::string& answer) {
  return answer.starts_with("HTTP/1.1 ") && answer.size() >= 12 ? std::atoi(answer.substr(9, 3).c_str()) : 0;
}

inline std::string body_of(const std::string& answer) {
  const auto end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

// One request from source, and the whole answer.
inline std::string exchange(const std::string& source, int port, const std::string& request, double seconds = 10) {
  const platform::Fd sock = connect_from(source, port);
  if (!sock || ::send(sock.get(), request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return {};
  return read_answer(sock.get(), seconds);
}

// The peak resident memory of a process in KiB (VmHWM), 0 when unknown.
inline long peak_rss_kib(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmHWM:")) return std::atol(line.c_str() + 6);
  return 0;
}

}  // namespace dexweb::test
