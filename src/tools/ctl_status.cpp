#include <cstdio>

#include "tools/ctl_commands.h"
#include "tools/ctl_options.h"
#include "tools/gateway_status.h"
#include "tools/status_output.h"

namespace dexweb::ctl {
namespace {

constexpr int kStatusRunning = 0, kStatusNotRunning = 3, kStatusUnknown = 4;

}  // namespace

int run_status(const std::vector<std::string>& args) {
  const Options options(args, {"home"}, {"json"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  const GatewayStatus status = read_gateway_status(registry_path(options));
  const std::string out = options.has("json") ? status_json(status) : status_text(status);
  std::fwrite(out.data(), 1, out.size(), stdout);
  // As systemctl is-active and LSB status actions answer.
  if (status.module.pid) return kStatusRunning;
  return status.module.unknown.empty() ? kStatusNotRunning : kStatusUnknown;
}

}  // namespace dexweb::ctl
