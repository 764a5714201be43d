#include <algorithm>
#include <cstdio>

#include "tools/ctl_commands.h"
#include "tools/ctl_options.h"
#include "tools/gateway_home.h"
#include "tools/web_server.h"
#include "util/text.h"

namespace dexweb::ctl {
namespace {

struct ListenAddress {
  std::string host;  // an IPv6 address without its brackets
  int port;
};

// ADDRESS:PORT, an IPv6 address in brackets ("[::1]:8080") or, as before, without.
ListenAddress listen_address(const std::string& option, const std::string& text) {
  const auto colon = text.rfind(':');
  const auto port = colon == std::string::npos ? std::nullopt : text::parse_number(text.substr(colon + 1));
  std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty() || host.find_first_of("[]") != std::string::npos || !port || *port < 0 || *port > 65535 ||
      *port != static_cast<int>(*port))
    throw UsageError(option + " takes ADDRESS:PORT");
  return {host, static_cast<int>(*port)};
}

std::string url(const std::string& host, int port, const char* path) {
  const std::string shown = host.find(':') == std::string::npos ? host : "[" + host + "]";
  return "http://" + shown + ":" + std::to_string(port) + path;
}

// --server-name NAME[,NAME...]
std::vector<std::string> server_names(const Options& options) {
  std::vector<std::string> names;
  const std::string given = options.get("server-name").value_or("");
  std::string_view rest = given;
  while (!rest.empty()) {
    const std::string_view item = rest.substr(0, rest.find(','));
    rest.remove_prefix(std::min(rest.size(), item.size() + 1));
    if (std::string name = text::trim(item); !name.empty()) names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

int run_serve(const std::vector<std::string>& args) {
  const Options options(args, {"home", "listen", "status-listen", "server-name"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  const ListenAddress listen = listen_address("--listen", options.get("listen").value_or("127.0.0.1:8080"));
  const std::string status_text = options.get("status-listen").value_or("127.0.0.1:8081");
  const std::optional<ListenAddress> status =
      status_text == "off" ? std::nullopt : std::optional(listen_address("--status-listen", status_text));
  if (status && status->port != 0 && status->host == listen.host && status->port == listen.port)
    throw UsageError("--status-listen must differ from --listen");
  const std::string registry = registry_path(options);
  WebServer server(registry, watched_folder_of(registry), server_names(options));
  const int port = server.listen_public(listen.host, listen.port);
  std::printf("serving %s\n", url(listen.host, port, "/").c_str());
  if (status) std::printf("status pages at %s\n", url(status->host, server.listen_operator(status->host, status->port), "/status").c_str());
  std::fflush(stdout);
  server.run();
  return 0;
}

}  // namespace dexweb::ctl
