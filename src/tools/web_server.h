#pragma once
// The operator's web server: the message form at "/", its target "/submit" (POST, multipart
// or URL-encoded), the status page at "/status", and for machines "/healthz" (200 or 503
// with a one-line reason, tools/health.h), "/status.json" (what `status --json` prints) and
// "/metrics" (Prometheus text format). A form that passes the checks of web_form.h
// becomes one message file in the watched folder; a refused form writes nothing and gets
// HTTP 400 with the problems; a body above kMaxFormBody gets HTTP 413.
//
// A post is refused with HTTP 403, writing nothing, when its Origin (or Referer) names
// another site than its Host, or when it does not return the form token of this process
// (web_guard.h); scripts take the token from the form page. A client that stalls is cut off
// after kReadTimeoutSeconds without a byte; kWorkers connections are served at once, so a
// few stalled ones leave room for the rest.

#include <memory>
#include <string>

namespace httplib {
class Server;
}

namespace dexweb::ctl {

inline constexpr int kReadTimeoutSeconds = 5;
inline constexpr int kWriteTimeoutSeconds = 5;
inline constexpr int kKeepAliveSeconds = 2;
inline constexpr int kWorkers = 64;

class WebServer {
 public:
  // registry_path names the gateway for the status page; watched_folder receives the files.
  WebServer(std::string registry_path, std::string watched_folder);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds to host and port (0: any free port) and returns the port; raises RuntimeError
  // when it cannot, also when another program listens on that port.
  int bind(const std::string& host, int port);
  // Serves until stop() (from another thread); requests are handled on worker threads.
  void run();
  void stop();

 private:
  void add_routes();

  std::string registry_path_;
  std::string watched_folder_;
  std::string form_token_;
  std::unique_ptr<httplib::Server> server_;
};

}  // namespace dexweb::ctl
