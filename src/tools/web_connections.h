#pragma once
// The web server's connections, all served by one thread that waits for whichever socket is
// ready: a client that sends slowly or not at all holds a socket and a small buffer, never a
// thread. Each connection carries one request (http_message.h), and a client is held to:
//  - kIdleSeconds to send the first byte of its request,
//  - kRequestSeconds from connecting to the last byte of its request, head and body (then
//    it gets 408),
//  - kWriteSeconds to take its answer,
//  - kMaxConnectionsPerClient connections at once to one listener, from one IPv4 address
//    or IPv6 /64; more are closed as they come.
// At most kMaxConnections are open in all: a new connection beyond that closes the oldest
// one that is still reading its request (or lingers after its answer). Bodies being read hold at most kMaxBodyBytesHeld in
// all; past that, the newer connections that read a body wait until older ones are done.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/sockets.h"
#include "tools/http_message.h"

namespace dexweb::ctl {

inline constexpr int kIdleSeconds = 2;
inline constexpr int kRequestSeconds = 10;
inline constexpr int kWriteSeconds = 10;
inline constexpr std::size_t kMaxConnections = 512;
inline constexpr std::size_t kMaxConnectionsPerClient = 16;
inline constexpr std::size_t kMaxBodyBytesHeld = 32u << 20;

// Where a request arrived.
struct Arrival {
  std::size_t listener;  // in the order of ConnectionLoop::listen
  std::string local;     // the address and port it arrived at: "127.0.0.1:8080", "[::1]:8080"
};

// What the server does with requests. Called on the loop's thread: nothing here may wait.
class RequestHandler {
 public:
  virtual ~RequestHandler() = default;
  // An answer to the request from its head alone (its body, if any, is then never read), or
  // nothing to read the body and call answer().
  virtual std::optional<HttpResponse> check_head(const HttpRequest& head, const Arrival& arrival) = 0;
  // Answers a complete request by calling reply once, at once or later from any thread.
  virtual void answer(HttpRequest request, const Arrival& arrival, std::function<void(HttpResponse)> reply) = 0;
  // The answer to a request the reader refused or that did not arrive in time.
  virtual HttpResponse refusal(const Refusal& refusal, const Arrival& arrival) = 0;
};

class ConnectionLoop {
 public:
  // Requests may carry bodies of at most max_body bytes.
  ConnectionLoop(RequestHandler& handler, std::size_t max_body);
  ~ConnectionLoop();
  ConnectionLoop(const ConnectionLoop&) = delete;
  ConnectionLoop& operator=(const ConnectionLoop&) = delete;

  // Listens on host and port (0: any free port) and returns the port; raises RuntimeError
  // when it cannot.
  int listen(const std::string& host, int port);
  // Serves until stop(), which any thread may call.
  void run();
  void stop();

 private:
  struct Connection;
  std::vector<pollfd> poll_set(std::vector<std::uint64_t>& ids, platform::SteadyPoint& wake) const;
  void serve_round();
  void accept_from(std::size_t listener);
  void add(platform::AcceptedConnection accepted, std::size_t listener);
  void make_room();
  void read_from(Connection& c);
  void on_step(Connection& c, RequestReader::Step step);
  void respond(Connection& c, const HttpResponse& response);
  void write_to(Connection& c);
  void drain(Connection& c);
  void expire(Connection& c, platform::SteadyPoint now);
  void close(std::uint64_t id);
  void take_replies();

  RequestHandler& handler_;
  std::size_t max_body_;
  std::vector<platform::ListenSocket> listeners_;
  std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
  std::map<std::string, std::size_t> per_client_;
  std::uint64_t next_id_ = 1;
  std::atomic<bool> stopping_{false};
  platform::Wakeup wakeup_;
  std::mutex replies_mutex_;
  std::vector<std::pair<std::uint64_t, HttpResponse>> replies_;
};

}  // namespace dexweb::ctl
