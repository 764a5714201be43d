#include <cstdio>

#include "config/registry.h"
#include "platform/registry_file.h"
#include "platform/process.h"
#include "platform/sockets.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_options.h"
#include "tools/monitor_report.h"

namespace dexweb::ctl {
namespace {

int monitor_port(const Options& options) {
  if (const auto port = options.number("port", 0, 65535)) return static_cast<int>(*port);
  const platform::RegistryFile registry(registry_path(options));
  const int configured = registry_port(query_value(registry, kMonitorKey, "VTM_Port"));
  return configured != 0 ? configured : kDefaultMonitorPort;
}

bool use_colour(const Options& options) {
  const std::string choice = options.get("colour").value_or("auto");
  if (choice == "always") return true;
  if (choice == "never") return false;
  if (choice != "auto") throw UsageError("--colour takes auto, always or never");
  return platform::is_terminal(1);
}

}  // namespace

int run_monitor(const std::vector<std::string>& args) {
  const Options options(args, {"port", "address", "count", "colour"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  const long limit = options.number("count", 1, 1'000'000'000).value_or(0);
  const bool colour = use_colour(options);
  const std::string address = options.get("address").value_or("127.0.0.1");
  platform::UdpReceiver receiver(address, monitor_port(options));
  std::fprintf(stderr, "dexwebctl: listening for monitor datagrams on %s:%d\n", address.c_str(), receiver.port());
  std::fflush(stderr);
  Tally tally;
  for (long shown = 0; limit == 0 || shown < limit;) {
    const auto datagram = receiver.receive(std::chrono::milliseconds(1000));
    if (!datagram) continue;
    std::printf("%s\n", report_line(*datagram, tally, colour).c_str());
    std::fflush(stdout);
    ++shown;
  }
  std::printf("%s\n", tally.text().c_str());
  return 0;
}

}  // namespace dexweb::ctl
