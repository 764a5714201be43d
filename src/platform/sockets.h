#pragma once
// Sockets: host-name lookup, the UDP datagrams of the monitor link (a kept sending socket, a
// receiving socket for dexwebctl's monitor), and the sockets of a TCP server that serves its
// connections from one poll loop (a listening socket, the connections it accepts, all
// non-blocking, and a wake-up that other threads use to interrupt the loop's wait).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace dexweb::platform {

// The first IPv4 address of name as a dotted quad, or empty text. Never throws.
std::string resolve_host_ipv4(std::string_view name);

// One UDP socket kept for many datagrams (the monitor link sends a few per message file).
// Nothing here throws.
class UdpSender {
 public:
  // Sends one datagram to host (dotted IPv4) and port; false when it could not be sent. The
  // socket is opened at the first send and kept; a send that fails drops it, so that the
  // next send starts with a fresh one.
  bool send(const std::string& host, int port, std::string_view payload);

 private:
  Fd socket_;
  // The last host parsed and its address: most datagrams go where the one before went.
  std::optional<std::string> host_;
  std::uint32_t address_ = 0;
};

// A UDP socket bound to one IPv4 address and port that receives datagrams.
class UdpReceiver {
 public:
  // Binds to address (dotted IPv4) and port; port 0 takes any free port. Raises
  // RuntimeError when the address is not a dotted IPv4 address or the bind fails.
  UdpReceiver(const std::string& address, int port);

  // The bound port.
  int port() const { return port_; }
  // The next datagram, or nullopt when none came within timeout (or a signal interrupted
  // the wait).
  std::optional<std::string> receive(std::chrono::milliseconds timeout);

 private:
  Fd socket_;
  int port_ = 0;
};

struct AcceptedConnection {
  Fd socket;               // non-blocking
  std::string peer_group;  // the client's IPv4 address, or the /64 network of its IPv6 address
                           // (a subscriber's usual share): connections are counted per group
  std::string local;       // the address and port it arrived at: "192.0.2.1:80", "[::1]:8080"
};

class ListenSocket {
 public:
  // Listens on host (a numeric IPv4 or IPv6 address, or a name: its first address) and port
  // (0: any free port). The port is not shared (no SO_REUSEPORT), so this fails while
  // another socket listens there, rather than the kernel dividing the connections between
  // two servers; an earlier server's connections in TIME_WAIT do not keep it from binding.
  // Raises RuntimeError when it cannot listen.
  ListenSocket(const std::string& host, int port);

  int fd() const { return socket_.get(); }
  int port() const { return port_; }
  // A connection that waits to be accepted, or nothing (none waits, or it failed at once).
  std::optional<AcceptedConnection> accept() const;

 private:
  Fd socket_;
  int port_ = 0;
};

// What a non-blocking transfer did: a count of bytes, or one of these.
inline constexpr long kTransferWouldBlock = -1;  // nothing can move now: wait for the socket
inline constexpr long kTransferFailed = -2;      // the connection is broken
// Reads what has arrived, at most size bytes; 0 when the peer has finished sending.
long receive_some(int socket, char* buffer, std::size_t size);
// Sends what the socket takes now of data; never raises SIGPIPE.
long send_some(int socket, const char* data, std::size_t size);
// Tells the peer that nothing more will be sent, keeping the socket open for reading.
void finish_sending(int socket);

// A descriptor that becomes readable when any thread calls signal(), until clear().
class Wakeup {
 public:
  Wakeup();  // raises RuntimeError when the system has no descriptor left
  int fd() const { return fd_.get(); }
  void signal() const;
  void clear() const;

 private:
  Fd fd_;
};

}  // namespace dexweb::platform
