#include "tools/web_server.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <stop_token>
#include <thread>

#include "platform/clock.h"
#include "tools/gateway_status.h"
#include "tools/status_output.h"
#include "tools/web_connections.h"
#include "tools/web_form.h"
#include "tools/web_pages.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb::ctl {
namespace {

// The checks that keep other web sites from posting through an operator's browser: any page
// the operator opens can make the browser post a form to this server, which then acts with
// the operator's network position. Browsers name the posting page's site in Origin (or, when
// they leave Origin out, in Referer); the form itself carries a token that only this
// server's pages know.

// The host[:port] of a URL, or nothing when the text has no scheme.
std::optional<std::string> authority(std::string_view url) {
  const auto scheme_end = url.find("://");
  if (scheme_end == std::string_view::npos) return std::nullopt;
  const std::string_view rest = url.substr(scheme_end + 3);
  return text::to_lower(rest.substr(0, rest.find_first_of("/?#")));
}

// Lower case, and without the port when it is 80 or 443, which browsers leave out.
std::string normal(std::string_view authority) {
  std::string out = text::to_lower(authority);
  for (const char* port : {":80", ":443"})
    if (out.ends_with(port)) out.resize(out.size() - std::strlen(port));
  return out;
}

// The host of host[:port]; an IPv6 address keeps its brackets.
std::string_view host_part(std::string_view authority) {
  const auto colon = authority.rfind(':');
  if (colon == std::string_view::npos || authority.find(']', colon) != std::string_view::npos) return authority;
  return authority.substr(0, colon);
}

bool has_port(std::string_view authority) { return host_part(authority).size() != authority.size(); }

// The names a server answers to. A request whose Host is none of them is refused before
// anything else: a page of another site that has its own name resolve to this server (DNS
// rebinding) sends its own name as Host, and would otherwise be served as this site.
class SiteNames {
 public:
  // listen: the address and port the server was started for ("127.0.0.1:8080",
  // "[::1]:8080", "form.local:8080"); names: further names, each matching with any port
  // ("form.example.org") or with the one it gives ("form.example.org:8443"). Ports 80 and
  // 443 may be left out of a Host.
  SiteNames(const std::string& listen, const std::vector<std::string>& names);

  // Whether authority (a Host header, or the host[:port] of an Origin) is one of the names,
  // or arrived_at: the address and port that the connection arrived at.
  bool allows(std::string_view authority, std::string_view arrived_at) const;

 private:
  std::vector<std::string> exact_;    // host:port, or host alone for ports 80 and 443
  std::vector<std::string> any_port_; // hosts
};

SiteNames::SiteNames(const std::string& listen, const std::vector<std::string>& names) : exact_{normal(listen)} {
  for (const std::string& name : names) (has_port(name) ? exact_ : any_port_).push_back(normal(name));
}

bool SiteNames::allows(std::string_view authority, std::string_view arrived_at) const {
  const std::string given = normal(authority);
  if (given.empty()) return false;
  if (given == normal(arrived_at) || std::find(exact_.begin(), exact_.end(), given) != exact_.end()) return true;
  return std::find(any_port_.begin(), any_port_.end(), host_part(given)) != any_port_.end();
}

enum class PostSource {
  kThisSite,   // Origin, or Referer without Origin, names one of the server's names
  kOtherSite,  // it names another host or port, or is not a URL (Origin "null")
  kUnnamed,    // neither header: a script or an old client, not a page of another site
};

// Where a POST that arrived at arrived_at came from. The scheme is ignored (a TLS proxy may
// stand in front); host names compare without regard to case.
PostSource post_source(const SiteNames& names, std::string_view arrived_at, const std::optional<std::string>& origin,
                       const std::optional<std::string>& referer) {
  const std::optional<std::string>& named = origin ? origin : referer;
  if (!named) return PostSource::kUnnamed;
  const std::optional<std::string> site = authority(*named);
  return site && names.allows(*site, arrived_at) ? PostSource::kThisSite : PostSource::kOtherSite;
}

// A fresh random token of 32 hex digits; raises std::exception when the system has no
// source of randomness.
std::string new_form_token() {
  std::random_device random;
  std::string token;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
    token += part;
  }
  return token;
}

// Whether given is token, compared in a time that does not tell where they differ.
bool token_matches(std::string_view token, std::string_view given) {
  if (token.empty() || given.size() != token.size()) return false;
  unsigned char differ = 0;
  for (std::size_t i = 0; i < token.size(); ++i) differ |= static_cast<unsigned char>(token[i] ^ given[i]);
  return differ == 0;
}

constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kText = "text/plain; charset=utf-8";
// Requests that wait for a worker; more are answered 503 at once.
constexpr std::size_t kMaxWaitingForms = 64;
constexpr std::size_t kMaxWaitingStatus = 256;
// The gateway's facts are read at most once in this time, however many ask.
constexpr auto kStatusFreshFor = std::chrono::seconds(1);

HttpResponse text_response(int status, std::string body, const char* type) {
  return {status, type, std::move(body), {{"X-Content-Type-Options", "nosniff"}, {"Cache-Control", "no-store"}}};
}

HttpResponse page_response(int status, std::string html) {
  HttpResponse response = text_response(status, std::move(html), kHtml);
  response.headers.emplace_back("Content-Security-Policy",
                                "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; frame-ancestors 'none'");
  return response;
}

// Runs jobs one after the other on a thread of its own.
class Worker {
 public:
  explicit Worker(std::size_t max_waiting) : max_waiting_(max_waiting), thread_([this](std::stop_token stop) { work(stop); }) {}

  // False when max_waiting jobs wait already.
  bool post(std::function<void()> job) {
    {
      const std::lock_guard lock(mutex_);
      if (jobs_.size() >= max_waiting_) return false;
      jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
    return true;
  }

 private:
  void work(std::stop_token stop) {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mutex_);
        if (!ready_.wait(lock, stop, [this] { return !jobs_.empty(); })) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  }

  std::size_t max_waiting_;
  std::mutex mutex_;
  std::condition_variable_any ready_;
  std::deque<std::function<void()>> jobs_;
  std::jthread thread_;  // last: it stops and joins before the queue goes
};

enum class Route { kForm, kSubmit, kHealth, kStatusPage, kStatusJson, kMetrics };

struct RouteEntry {
  const char* path;
  const char* method;
  Route route;
  bool operator_only;
};

constexpr RouteEntry kRoutes[] = {
    {"/", "GET", Route::kForm, false},
    {"/submit", "POST", Route::kSubmit, false},
    {"/healthz", "GET", Route::kHealth, false},
    {"/status", "GET", Route::kStatusPage, true},
    {"/status.json", "GET", Route::kStatusJson, true},
    {"/metrics", "GET", Route::kMetrics, true},
};

// The facts of the gateway, or why they could not be read.
struct Snapshot {
  std::optional<GatewayStatus> status;
  std::string problem;
  platform::SteadyPoint taken{};
};

}  // namespace

class WebServer::Site final : public RequestHandler {
 public:
  Site(std::string registry_path, std::string watched_folder, std::vector<std::string> server_names)
      : registry_path_(std::move(registry_path)),
        watched_folder_(std::move(watched_folder)),
        server_names_(std::move(server_names)),
        form_token_(new_form_token()) {}

  int listen(const std::string& host, int port, Audience audience) {
    const int bound = loop_.listen(host, port);
    const std::string shown = host.find(':') == std::string::npos ? host : "[" + host + "]";
    listeners_.push_back({SiteNames(shown + ":" + std::to_string(bound), server_names_), audience});
    return bound;
  }
  void run() { loop_.run(); }
  void stop() { loop_.stop(); }

  std::optional<HttpResponse> check_head(const HttpRequest& head, const Arrival& arrival) override {
    const Audience audience = listeners_[arrival.listener].audience;
    const auto host = head.header("host");
    if (head.count("host") != 1) return page_response(400, failure_page("The request must name its Host once.", audience));
    if (!listeners_[arrival.listener].names.allows(*host, arrival.local))
      return page_response(421, failure_page("This server does not answer to the name " + *host + ".", audience));
    const RouteEntry* entry = find_route(head.path(), audience);
    if (!entry) return page_response(404, failure_page("There is no page at " + std::string(head.path()) + ".", audience));
    if (head.method != entry->method && !(head.method == "HEAD" && std::string_view(entry->method) == "GET")) {
      HttpResponse response = page_response(405, failure_page(head.method + " is not served at " + entry->path + ".", audience));
      response.headers.emplace_back("Allow", entry->method);
      return response;
    }
    return std::nullopt;
  }

  void answer(HttpRequest request, const Arrival& arrival, std::function<void(HttpResponse)> reply) override {
    const Audience audience = listeners_[arrival.listener].audience;
    const Route route = find_route(request.path(), audience)->route;
    if (route == Route::kForm) return reply(page_response(200, form_page(form_token_, audience)));
    const bool queued =
        route == Route::kSubmit
            ? forms_.post([this, request = std::move(request), arrival, reply] { reply(submit(request, arrival)); })
            : status_.post([this, route, reply] { reply(status_answer(route)); });
    if (!queued) {
      HttpResponse busy = page_response(503, failure_page("The server is busy: try again in a moment.", audience));
      busy.headers.emplace_back("Retry-After", "1");
      reply(std::move(busy));
    }
  }

  HttpResponse refusal(const Refusal& refusal, const Arrival& arrival) override {
    return page_response(refusal.status, failure_page(refusal.reason, listeners_[arrival.listener].audience));
  }

 private:
  struct Listener {
    SiteNames names;
    Audience audience;
  };

  static const RouteEntry* find_route(std::string_view path, Audience audience) {
    for (const RouteEntry& entry : kRoutes)
      if (path == entry.path && (!entry.operator_only || audience == Audience::kOperator)) return &entry;
    return nullptr;
  }

  // On the forms' worker.
  HttpResponse submit(const HttpRequest& request, const Arrival& arrival) const {
    const Audience audience = listeners_[arrival.listener].audience;
    const auto values = form_values_of(request.header("content-type").value_or(""), request.body);
    if (!values)
      return page_response(400, failure_page("The form could not be read: send it as multipart/form-data or "
                                             "application/x-www-form-urlencoded.", audience));
    if (auto refused = foreign_post_refusal(request, arrival, *values)) return std::move(*refused);
    const FormCheck check = check_form(*values);
    if (!check.submission) return page_response(400, form_page(form_token_, audience, *values, check.problems));
    try {
      const std::string path = submit_web_message(watched_folder_, *check.submission);
      return page_response(200, queued_page(std::filesystem::path(path).filename().string(), audience));
    } catch (const RuntimeError& e) {
      return page_response(500, failure_page("The message could not be written: " + e.description(), audience));
    }
  }

  // Why a post that did not come from this server's form is refused, or nothing. Another
  // site's text is never offered back to the operator for sending.
  std::optional<HttpResponse> foreign_post_refusal(const HttpRequest& request, const Arrival& arrival,
                                                   const FormValues& values) const {
    const Listener& listener = listeners_[arrival.listener];
    const PostSource source = post_source(listener.names, arrival.local, request.header("origin"), request.header("referer"));
    const auto refuse = [](std::string page) { return std::optional(page_response(403, std::move(page))); };
    if (source == PostSource::kOtherSite)
      return refuse(failure_page("Refused: the form was posted from a page of another site. Send messages from this server's own form.",
                                 listener.audience));
    if (values.count(kFormTokenField) == 1 && token_matches(form_token_, form_value(values, kFormTokenField))) return std::nullopt;
    if (source == PostSource::kThisSite)
      return refuse(form_page(form_token_, listener.audience, values,
                              {"The form was out of date (the server has restarted since it was loaded): check it and send it again."}));
    return refuse(failure_page("Refused: the post does not return the token of this server's form; take it from the form at /.",
                               listener.audience));
  }

  // On the status worker.
  HttpResponse status_answer(Route route) {
    const Snapshot& facts = snapshot();
    if (!facts.status) {
      if (route == Route::kStatusPage) return page_response(500, failure_page("The gateway could not be read: " + facts.problem, Audience::kOperator));
      return text_response(503, "the gateway could not be read: " + facts.problem + "\n", kText);
    }
    const GatewayStatus& status = *facts.status;
    switch (route) {
      case Route::kHealth: {
        const Health health = judge_health(status);
        return text_response(health.healthy ? 200 : 503, health.reason + "\n", kText);
      }
      case Route::kStatusJson: return text_response(200, status_json(status), "application/json");
      case Route::kMetrics: return text_response(200, metrics_text(status), "text/plain; version=0.0.4; charset=utf-8");
      default: return page_response(200, status_page(status));
    }
  }

  const Snapshot& snapshot() {
    const platform::SteadyPoint now = platform::clock().steady_now();
    if (snapshot_.taken != platform::SteadyPoint{} && now - snapshot_.taken < kStatusFreshFor) return snapshot_;
    try {
      snapshot_ = {read_gateway_status(registry_path_), {}, now};
    } catch (const RuntimeError& e) {
      snapshot_ = {std::nullopt, e.description(), now};
    }
    return snapshot_;
  }

  std::string registry_path_;
  std::string watched_folder_;
  std::vector<std::string> server_names_;
  std::string form_token_;
  std::vector<Listener> listeners_;
  Snapshot snapshot_;  // the status worker's alone
  ConnectionLoop loop_{*this, kMaxFormBody};
  // After the loop: the workers stop before the loop their replies go to.
  Worker forms_{kMaxWaitingForms};
  Worker status_{kMaxWaitingStatus};
};

WebServer::WebServer(std::string registry_path, std::string watched_folder, std::vector<std::string> server_names)
    : site_(std::make_unique<Site>(std::move(registry_path), std::move(watched_folder), std::move(server_names))) {}

WebServer::~WebServer() = default;

int WebServer::listen_public(const std::string& host, int port) { return site_->listen(host, port, Audience::kPublic); }

int WebServer::listen_operator(const std::string& host, int port) { return site_->listen(host, port, Audience::kOperator); }

void WebServer::run() { site_->run(); }

void WebServer::stop() { site_->stop(); }

}  // namespace dexweb::ctl
