#include "tools/web_server.h"

#include <httplib.h>

#include <filesystem>
#include <mutex>
#include <optional>

#include "platform/listen_socket.h"
#include "tools/gateway_status.h"
#include "tools/health.h"
#include "tools/status_output.h"
#include "tools/web_form.h"
#include "tools/web_guard.h"
#include "tools/web_pages.h"
#include "util/runtime_error.h"

namespace dexweb::ctl {
namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";

// The module's database object and the process-wide reporter and clock are single-threaded:
// the server's workers take turns through this lock for everything that touches them or the
// folders.
std::mutex gateway_lock;

void send_text(httplib::Response& res, int status, const std::string& body, const char* type) {
  res.status = status;
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Cache-Control", "no-store");
  res.set_content(body, type);
}

void send_page(httplib::Response& res, int status, const std::string& html) {
  res.status = status;
  res.set_header("Content-Security-Policy",
                 "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; frame-ancestors 'none'");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Cache-Control", "no-store");
  res.set_content(html, kHtml);
}

// The form posts multipart bodies: the library refuses URL-encoded bodies above 8 KiB,
// less than one full message. Small URL-encoded posts are read as well.
FormValues form_values(const httplib::Request& req) {
  FormValues values;
  for (const auto& [name, value] : req.params) values.emplace(name, value);
  for (const auto& [name, part] : req.files) values.emplace(name, part.content);
  return values;
}

std::optional<std::string> header(const httplib::Request& req, const char* name) {
  return req.has_header(name) ? std::optional(req.get_header_value(name)) : std::nullopt;
}

struct Refusal {
  std::string reason;
  bool refill;  // the post came from this site's page: show the form again, filled in
};

// Why a post that did not come from this server's form is refused, or nothing. Another
// site's text is never offered back to the operator for sending.
std::optional<Refusal> foreign_post_refusal(const httplib::Request& req, const FormValues& values, const std::string& token) {
  const PostSource source = post_source(req.get_header_value("Host"), header(req, "Origin"), header(req, "Referer"));
  if (source == PostSource::kOtherSite)
    return Refusal{"Refused: the form was posted from a page of another site. Send messages from this server's own form.", false};
  if (values.count(kFormTokenField) == 1 && token_matches(token, form_value(values, kFormTokenField))) return std::nullopt;
  if (source == PostSource::kThisSite)
    return Refusal{"The form was out of date (the server has restarted since it was loaded): check it and send it again.", true};
  return Refusal{"Refused: the post does not return the token of this server's form; take it from the form at /.", false};
}

}  // namespace

WebServer::WebServer(std::string registry_path, std::string watched_folder)
    : registry_path_(std::move(registry_path)),
      watched_folder_(std::move(watched_folder)),
      form_token_(new_form_token()),
      server_(std::make_unique<httplib::Server>()) {
  server_->set_payload_max_length(kMaxFormBody);
  server_->set_read_timeout(kReadTimeoutSeconds);
  server_->set_write_timeout(kWriteTimeoutSeconds);
  server_->set_keep_alive_timeout(kKeepAliveSeconds);
  // The library's default pool of 8 is all a handful of clients that never finish their
  // request need to shut everybody else out. The server owns and deletes the queue it gets.
  server_->new_task_queue = [] { return std::make_unique<httplib::ThreadPool>(kWorkers).release(); };
  // The library's default shares the port (SO_REUSEPORT) with any other listener there.
  server_->set_socket_options(platform::reuse_address_exclusively);
  add_routes();
}

WebServer::~WebServer() = default;

void WebServer::add_routes() {
  server_->Get("/", [this](const httplib::Request&, httplib::Response& res) { send_page(res, 200, form_page(form_token_)); });
  server_->Post("/submit", [this](const httplib::Request& req, httplib::Response& res) {
    const FormValues values = form_values(req);
    if (const auto refusal = foreign_post_refusal(req, values, form_token_))
      return send_page(res, 403, refusal->refill ? form_page(form_token_, values, {refusal->reason}) : failure_page(refusal->reason));
    const FormCheck check = check_form(values);
    if (!check.submission) return send_page(res, 400, form_page(form_token_, values, check.problems));
    try {
      const std::lock_guard lock(gateway_lock);
      const std::string path = submit_web_message(watched_folder_, *check.submission);
      send_page(res, 200, queued_page(std::filesystem::path(path).filename().string()));
    } catch (const RuntimeError& e) {
      send_page(res, 500, failure_page("The message could not be written: " + e.description()));
    }
  });
  // For machines: plain answers, a 503 with the reason when the gateway cannot be read.
  const auto machine_route = [this](const char* path, auto answer) {
    server_->Get(path, [this, answer](const httplib::Request&, httplib::Response& res) {
      try {
        const std::lock_guard lock(gateway_lock);
        answer(res, read_gateway_status(registry_path_));
      } catch (const RuntimeError& e) {
        send_text(res, 503, "the gateway could not be read: " + e.description() + "\n", "text/plain; charset=utf-8");
      }
    });
  };
  machine_route("/healthz", [](httplib::Response& res, const GatewayStatus& status) {
    const Health health = judge_health(status);
    send_text(res, health.healthy ? 200 : 503, health.reason + "\n", "text/plain; charset=utf-8");
  });
  machine_route("/status.json", [](httplib::Response& res, const GatewayStatus& status) {
    send_text(res, 200, status_json(status), "application/json");
  });
  machine_route("/metrics", [](httplib::Response& res, const GatewayStatus& status) {
    send_text(res, 200, metrics_text(status), "text/plain; version=0.0.4; charset=utf-8");
  });
  server_->Get("/status", [this](const httplib::Request&, httplib::Response& res) {
    try {
      const std::lock_guard lock(gateway_lock);
      send_page(res, 200, status_page(read_gateway_status(registry_path_)));
    } catch (const RuntimeError& e) {
      send_page(res, 500, failure_page("The gateway could not be read: " + e.description()));
    }
  });
}

int WebServer::bind(const std::string& host, int port) {
  const int bound = port == 0 ? server_->bind_to_any_port(host) : (server_->bind_to_port(host, port) ? port : -1);
  if (bound <= 0)
    throw RuntimeError(err::kPermissionDenied, "Cannot listen on " + host + ":" + std::to_string(port) +
                                                   ": another program listens on that port, or the address is not this machine's");
  return bound;
}

void WebServer::run() { server_->listen_after_bind(); }

void WebServer::stop() { server_->stop(); }

}  // namespace dexweb::ctl
