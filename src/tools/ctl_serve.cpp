#include <cstdio>

#include "tools/ctl_commands.h"
#include "tools/ctl_options.h"
#include "tools/submit_message.h"
#include "tools/web_server.h"
#include "util/text.h"

namespace dexweb::ctl {
namespace {

struct ListenAddress {
  std::string host;
  int port;
};

ListenAddress listen_address(const Options& options) {
  const std::string text = options.get("listen").value_or("127.0.0.1:8080");
  const auto colon = text.rfind(':');
  const auto port = colon == std::string::npos ? std::nullopt : text::parse_number(text.substr(colon + 1));
  if (colon == 0 || !port || *port < 0 || *port > 65535 || *port != static_cast<int>(*port))
    throw UsageError("--listen takes ADDRESS:PORT");
  return {text.substr(0, colon), static_cast<int>(*port)};
}

}  // namespace

int run_serve(const std::vector<std::string>& args) {
  const Options options(args, {"home", "listen"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  const ListenAddress listen = listen_address(options);
  const std::string registry = registry_path(options);
  WebServer server(registry, watched_folder_of(registry));
  const int port = server.bind(listen.host, listen.port);
  std::printf("serving http://%s:%d/\n", listen.host.c_str(), port);
  std::fflush(stdout);
  server.run();
  return 0;
}

}  // namespace dexweb::ctl
