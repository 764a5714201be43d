#include "tools/web_server.h"

#include <httplib.h>

#include <filesystem>
#include <mutex>

#include "tools/gateway_status.h"
#include "tools/web_form.h"
#include "tools/web_pages.h"
#include "util/runtime_error.h"

namespace dexweb::ctl {
namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";

// The module's database object and globals are single-threaded; the server's workers take
// turns through this lock for everything that touches them or the folders.
std::mutex gateway_lock;

void send_page(httplib::Response& res, int status, const std::string& html) {
  res.status = status;
  res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'");
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

}  // namespace

WebServer::WebServer(std::string registry_path, std::string watched_folder)
    : registry_path_(std::move(registry_path)),
      watched_folder_(std::move(watched_folder)),
      server_(std::make_unique<httplib::Server>()) {
  server_->set_payload_max_length(kMaxFormBody);
  add_routes();
}

WebServer::~WebServer() = default;

void WebServer::add_routes() {
  server_->Get("/", [](const httplib::Request&, httplib::Response& res) { send_page(res, 200, form_page()); });
  server_->Post("/submit", [this](const httplib::Request& req, httplib::Response& res) {
    const FormValues values = form_values(req);
    const FormCheck check = check_form(values);
    if (!check.submission) return send_page(res, 400, form_page(values, check.problems));
    try {
      const std::lock_guard lock(gateway_lock);
      const std::string path = submit_web_message(watched_folder_, *check.submission);
      send_page(res, 200, written_page(std::filesystem::path(path).filename().string()));
    } catch (const RuntimeError& e) {
      send_page(res, 500, failure_page("The message could not be written: " + e.description()));
    }
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
  if (bound <= 0) throw RuntimeError(err::kPermissionDenied, "Cannot listen on " + host + ":" + std::to_string(port));
  return bound;
}

void WebServer::run() { server_->listen_after_bind(); }

void WebServer::stop() { server_->stop(); }

}  // namespace dexweb::ctl
