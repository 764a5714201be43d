#include "tools/web_connections.h"

#include <poll.h>

#include <algorithm>

namespace dexweb::ctl {
namespace {

using platform::SteadyPoint;
using std::chrono::seconds;

// After its answer a connection is read and dropped for this long at most, until the client
// closes: closing while its bytes are still arriving would reset the connection, and the
// client could lose the answer.
constexpr int kLingerSeconds = 2;
// Reads per connection and round: a client cannot keep the others waiting.
constexpr std::size_t kReadSize = 16 * 1024;
// Connections accepted per listener and round, so that reading goes on during a flood.
constexpr int kAcceptsPerRound = 64;

SteadyPoint now() { return platform::clock().steady_now(); }

}  // namespace

struct ConnectionLoop::Connection {
  enum class State { kReading, kAnswering, kWriting, kLingering };

  Connection(std::uint64_t number, platform::AcceptedConnection accepted, std::size_t listener, std::size_t max_body)
      : id(number),
        socket(std::move(accepted.socket)),
        client(std::to_string(listener) + " " + accepted.peer_group),
        arrival{listener, std::move(accepted.local)},
        reader(max_body),
        opened(now()),
        deadline(opened + seconds(kIdleSeconds)) {}

  std::uint64_t id;
  platform::Fd socket;
  std::string client;  // the listener and the client's address group: what is counted
  Arrival arrival;
  RequestReader reader;
  State state = State::kReading;
  SteadyPoint opened;
  SteadyPoint deadline;
  bool head_only = false;  // a HEAD request: the answer goes without its body
  std::string out;
  std::size_t sent = 0;
};

ConnectionLoop::ConnectionLoop(RequestHandler& handler, std::size_t max_body) : handler_(handler), max_body_(max_body) {}

ConnectionLoop::~ConnectionLoop() = default;

int ConnectionLoop::listen(const std::string& host, int port) {
  listeners_.emplace_back(host, port);
  return listeners_.back().port();
}

void ConnectionLoop::run() {
  while (!stopping_) serve_round();
}

void ConnectionLoop::stop() {
  stopping_ = true;
  wakeup_.signal();
}

// What to wait for: the wake-up, the listeners, then each connection (in ids) as its state
// asks. Readers of bodies are waited on oldest first while the bytes they hold stay within
// kMaxBodyBytesHeld; the oldest is always among them, so bodies keep being completed.
std::vector<pollfd> ConnectionLoop::poll_set(std::vector<std::uint64_t>& ids, SteadyPoint& wake) const {
  std::vector<pollfd> fds{{wakeup_.fd(), POLLIN, 0}};
  for (const auto& listener : listeners_) fds.push_back({listener.fd(), POLLIN, 0});
  std::size_t held = 0;
  for (const auto& [id, c] : connections_) {
    short events = 0;
    if (c->state == Connection::State::kReading) {
      const bool room = c->reader.held() < kMaxHeadBytes || held + c->reader.held() <= kMaxBodyBytesHeld;
      held += c->reader.held();
      events = room ? POLLIN : 0;
    } else if (c->state == Connection::State::kWriting) {
      events = POLLOUT;
    } else if (c->state == Connection::State::kLingering) {
      events = POLLIN;
    }
    if (c->state != Connection::State::kAnswering) wake = std::min(wake, c->deadline);
    // poll reports a closed peer even without events: a socket not waited on stays out.
    fds.push_back({events ? c->socket.get() : -1, events, 0});
    ids.push_back(id);
  }
  return fds;
}

void ConnectionLoop::serve_round() {
  std::vector<std::uint64_t> ids;
  SteadyPoint wake = now() + seconds(60);
  std::vector<pollfd> fds = poll_set(ids, wake);
  platform::clock().wait(fds, wake);

  if (fds[0].revents) take_replies();
  for (std::size_t i = 0; i < listeners_.size(); ++i)
    if (fds[1 + i].revents) accept_from(i);
  const std::size_t first = 1 + listeners_.size();
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const auto found = connections_.find(ids[i]);
    if (found == connections_.end() || !fds[first + i].revents) continue;  // closed in this round, or nothing new
    Connection& c = *found->second;
    if (c.state == Connection::State::kReading) read_from(c);
    else if (c.state == Connection::State::kWriting) write_to(c);
    else if (c.state == Connection::State::kLingering) drain(c);
  }
  const SteadyPoint at = now();
  for (const std::uint64_t id : ids)
    if (const auto found = connections_.find(id); found != connections_.end()) expire(*found->second, at);
}

void ConnectionLoop::accept_from(std::size_t listener) {
  for (int i = 0; i < kAcceptsPerRound; ++i) {
    auto accepted = listeners_[listener].accept();
    if (!accepted) return;
    const auto count = per_client_.find(std::to_string(listener) + " " + accepted->peer_group);
    if (count != per_client_.end() && count->second >= kMaxConnectionsPerClient) continue;  // closed as it goes
    if (connections_.size() >= kMaxConnections) make_room();
    if (connections_.size() < kMaxConnections) add(std::move(*accepted), listener);
  }
}

void ConnectionLoop::add(platform::AcceptedConnection accepted, std::size_t listener) {
  const std::uint64_t id = next_id_++;
  auto c = std::make_unique<Connection>(id, std::move(accepted), listener, max_body_);
  ++per_client_[c->client];
  connections_.emplace(id, std::move(c));
}

// The connection that has been reading longest is the one most likely to be stalling; one
// that has its answer and lingers loses nothing.
void ConnectionLoop::make_room() {
  const Connection* oldest = nullptr;
  for (const auto& [id, c] : connections_)
    if ((c->state == Connection::State::kReading || c->state == Connection::State::kLingering) &&
        (!oldest || c->opened < oldest->opened))
      oldest = c.get();
  if (oldest) close(oldest->id);
}

void ConnectionLoop::read_from(Connection& c) {
  char buffer[kReadSize];
  const long got = platform::receive_some(c.socket.get(), buffer, sizeof buffer);
  if (got == platform::kTransferWouldBlock) return;
  if (got <= 0) return close(c.id);  // the client closed or broke the connection
  if (!c.reader.started()) c.deadline = c.opened + seconds(kRequestSeconds);
  on_step(c, c.reader.take(std::string_view(buffer, static_cast<std::size_t>(got))));
}

void ConnectionLoop::on_step(Connection& c, RequestReader::Step step) {
  using Step = RequestReader::Step;
  c.head_only = c.reader.request().method == "HEAD";
  if (step == Step::kHead) {
    if (auto answer = handler_.check_head(c.reader.request(), c.arrival)) return respond(c, *answer);
    if (c.reader.expects_continue()) {
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      platform::send_some(c.socket.get(), kContinue.data(), kContinue.size());
    }
    step = c.reader.take({});
  }
  if (step == Step::kRefused) return respond(c, handler_.refusal(c.reader.refusal(), c.arrival));
  if (step != Step::kDone) return;
  c.state = Connection::State::kAnswering;
  handler_.answer(c.reader.take_request(), c.arrival, [this, id = c.id](HttpResponse response) {
    {
      const std::lock_guard lock(replies_mutex_);
      replies_.emplace_back(id, std::move(response));
    }
    wakeup_.signal();
  });
}

void ConnectionLoop::respond(Connection& c, const HttpResponse& response) {
  c.out = response_bytes(response, !c.head_only);
  c.sent = 0;
  c.state = Connection::State::kWriting;
  c.deadline = now() + seconds(kWriteSeconds);
  c.reader = RequestReader(0);  // what it held is no longer needed
  write_to(c);
}

void ConnectionLoop::write_to(Connection& c) {
  const long sent = platform::send_some(c.socket.get(), c.out.data() + c.sent, c.out.size() - c.sent);
  if (sent == platform::kTransferWouldBlock) return;
  if (sent < 0) return close(c.id);
  c.sent += static_cast<std::size_t>(sent);
  if (c.sent < c.out.size()) return;
  std::string().swap(c.out);
  platform::finish_sending(c.socket.get());
  c.state = Connection::State::kLingering;
  c.deadline = now() + seconds(kLingerSeconds);
}

void ConnectionLoop::drain(Connection& c) {
  char buffer[kReadSize];
  const long got = platform::receive_some(c.socket.get(), buffer, sizeof buffer);
  if (got == 0 || got == platform::kTransferFailed) close(c.id);
}

void ConnectionLoop::expire(Connection& c, SteadyPoint at) {
  if (c.state == Connection::State::kAnswering || at < c.deadline) return;
  if (c.state == Connection::State::kReading && c.reader.started())
    return respond(c, handler_.refusal({408, "The request did not arrive within " + std::to_string(kRequestSeconds) + " seconds."},
                                       c.arrival));
  close(c.id);
}

void ConnectionLoop::close(std::uint64_t id) {
  const auto found = connections_.find(id);
  if (found == connections_.end()) return;
  const auto count = per_client_.find(found->second->client);
  if (count != per_client_.end() && --count->second == 0) per_client_.erase(count);
  connections_.erase(found);
}

void ConnectionLoop::take_replies() {
  wakeup_.clear();
  std::vector<std::pair<std::uint64_t, HttpResponse>> replies;
  {
    const std::lock_guard lock(replies_mutex_);
    replies.swap(replies_);
  }
  for (auto& [id, response] : replies) {
    const auto found = connections_.find(id);
    if (found != connections_.end() && found->second->state == Connection::State::kAnswering) respond(*found->second, response);
  }
}

}  // namespace dexweb::ctl
