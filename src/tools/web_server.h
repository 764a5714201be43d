#pragma once
// The operator's web server. On the public listener: the message form at "/", its target
// "/submit" (POST, multipart or URL-encoded) and "/healthz" (200 or 503 with a one-line
// reason, tools/status_output.h). On the operator's listener, besides: the status page at
// "/status", "/status.json" (what `status --json` prints) and "/metrics" (Prometheus text
// format), so that publishing the form publishes nothing else. A form that passes the checks
// of web_form.h becomes one message file in the watched folder; a refused form writes
// nothing and gets HTTP 400 with the problems; a body above kMaxFormBody gets HTTP 413.
//
// A request whose Host is not one of the server's names gets HTTP 421 (a page of another
// site that has its own name resolve to this server sends that name). A post is refused
// with HTTP 403, writing nothing, when its Origin (or Referer) names none of them, or when
// it does not return the form token of this process; scripts take the token from the form
// page. Slow and idle clients are held to the limits of web_connections.h. Forms are
// written on a thread of their own and the status pages answered on another, from facts
// read at most once a second, so that no poller of the status makes a form wait.

#include <memory>
#include <string>
#include <vector>

namespace dexweb::ctl {

class WebServer {
 public:
  // registry_path names the gateway for the status pages; watched_folder receives the files;
  // server_names are names besides the listening addresses that requests may give as Host
  // (each matching with any port, or with the one it gives, as "form.example.org:8443").
  WebServer(std::string registry_path, std::string watched_folder, std::vector<std::string> server_names);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Listens on host and port (0: any free port) for the public, or for the operator, and
  // returns the port; raises RuntimeError when it cannot, also when another program
  // listens on that port.
  int listen_public(const std::string& host, int port);
  int listen_operator(const std::string& host, int port);
  // Serves until stop() (from another thread).
  void run();
  void stop();

 private:
  class Site;
  std::unique_ptr<Site> site_;
};

}  // namespace dexweb::ctl
