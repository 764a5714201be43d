// dexwebctl: the operator's companion tool.
//   dexwebctl init DIR [--port N]
//   dexwebctl submit [--home DIR | --folder F] --user U [--from F] [--to LIST] [--message TEXT]
// Exit status: 0 done, 1 failed (the reason on standard error), 2 invalid command line.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/ctl_commands.h"
#include "tools/ctl_options.h"
#include "util/runtime_error.h"

namespace {

constexpr const char* kUsage =
    "usage: dexwebctl init DIR [--port N]\n"
    "       dexwebctl submit [--home DIR | --folder F] --user U [--from F] [--to LIST] [--message TEXT]\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace dexweb;
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  try {
    if (!args.empty() && args[0] == "init") return ctl::run_init({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "submit") return ctl::run_submit({args.begin() + 1, args.end()});
    throw ctl::UsageError(args.empty() ? "no command" : "unknown command " + args[0]);
  } catch (const ctl::UsageError& e) {
    std::fprintf(stderr, "dexwebctl: %s\n%s", e.what(), kUsage);
    return 2;
  } catch (const RuntimeError& e) {
    std::fprintf(stderr, "dexwebctl: %s (error %d)\n", e.description().c_str(), e.number());
    return 1;
  }
}
