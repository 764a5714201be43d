#include "tools/ctl_commands.h"

#include <cstdio>

#include "platform/registry_file.h"
#include "tools/ctl_options.h"
#include "tools/gateway_home.h"
#include "tools/submit_message.h"

namespace dexweb::ctl {
namespace {

std::string watched_folder(const Options& options) {
  const auto folder = options.get("folder");
  const auto home = options.get("home");
  if (folder && home) throw UsageError("give --home or --folder, not both");
  if (folder) return *folder;
  return watched_folder_of(registry_path(options));
}

}  // namespace

std::string registry_path(const Options& options) {
  const auto home = options.get("home");
  return home ? home_layout(*home).registry : platform::RegistryFile::default_path();
}

int run_init(const std::vector<std::string>& args) {
  const Options options(args, {"port"});
  if (options.words().size() != 1) throw UsageError("init takes one folder");
  const int port = static_cast<int>(options.number("port", 1, 65535).value_or(kDefaultMonitorPort));
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
