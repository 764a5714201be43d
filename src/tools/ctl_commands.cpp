#include "tools/ctl_commands.h"

#include <cstdio>

#include "platform/registry_file.h"
#include "tools/ctl_options.h"
#include "tools/gateway_home.h"
#include "tools/submit_message.h"
#include "util/text.h"

namespace dexweb::ctl {
namespace {

constexpr int kDefaultMonitorPort = 7400;

int port_option(const Options& options) {
  const auto text = options.get("port");
  if (!text) return kDefaultMonitorPort;
  const auto port = text::parse_number(*text);
  if (!port || *port < 1 || *port > 65535 || *port != static_cast<int>(*port))
    throw UsageError("--port takes a port number");
  return static_cast<int>(*port);
}

std::string watched_folder(const Options& options) {
  const auto folder = options.get("folder");
  const auto home = options.get("home");
  if (folder && home) throw UsageError("give --home or --folder, not both");
  if (folder) return *folder;
  return watched_folder_of(home ? home_layout(*home).registry : platform::RegistryFile::default_path());
}

}  // namespace

int run_init(const std::vector<std::string>& args) {
  const Options options(args, {"port"});
  if (options.words().size() != 1) throw UsageError("init takes one folder");
  const int port = port_option(options);
  const HomeLayout home = home_layout(options.words()[0]);
  init_home(home, port);
  std::printf("export VELOTRAX_REGISTRY=%s\n", home.registry.c_str());
  return 0;
}

int run_submit(const std::vector<std::string>& args) {
  const Options options(args, {"home", "folder", "user", "from", "to", "message"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  const WebSubmission submission{options.require("user"), options.get("from").value_or(""),
                                 options.get("to").value_or(""), options.get("message").value_or("")};
  std::printf("%s\n", submit_web_message(watched_folder(options), submission).c_str());
  return 0;
}

}  // namespace dexweb::ctl
