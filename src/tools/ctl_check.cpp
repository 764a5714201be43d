#include <cstdio>

#include "platform/accounts.h"
#include "platform/registry_file.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_options.h"
#include "tools/home_check.h"

namespace dexweb::ctl {
namespace {

// The unit of the package runs the module for the system's registry.
bool started_by_systemd(const Options& options, const std::string& registry) {
  const std::string as = options.get("as").value_or(registry == "/etc/velotrax/velotrax.reg" ? "service" : "program");
  if (as != "service" && as != "program") throw UsageError("--as takes service or program");
  return as == "service";
}

}  // namespace

int run_check(const std::vector<std::string>& args) {
  const Options options(args, {"home", "account", "as"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  CheckRequest request;
  request.registry_path = registry_path(options);
  request.as_service = started_by_systemd(options, request.registry_path);
  request.account = options.get("account").value_or(
      platform::owner_account(request.registry_path).value_or(platform::current_account()));
  std::vector<CheckLine> lines = check_registry(request);
  const bool registry_found = !lines.empty() && lines.front().ok;
  if (registry_found) {
    std::vector<CheckLine> home = check_home(request);
    lines.insert(lines.end(), home.begin(), home.end());
  }
  int problems = 0;
  for (const CheckLine& line : lines) {
    std::printf("%s %s\n", line.ok ? "ok" : "problem", line.text.c_str());
    problems += line.ok ? 0 : 1;
  }
  std::printf("%d problem%s (account %s, started %s)\n", problems, problems == 1 ? "" : "s", request.account.c_str(),
              request.as_service ? "under systemd" : "as a program");
  return problems == 0 ? 0 : 1;
}

}  // namespace dexweb::ctl
