#include "tools/web_server.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "platform/clock.h"
#include "tools/gateway_status.h"
#include "tools/status_output.h"
#include "tools/web_connections.h"
#include "tools/web_form.h"
#include "tools/web_guard.h"
#include "tools/web_pages.h"
#include "util/runtime_error.h"

namespace dexweb::ctl {
namespace {

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
