// dexwebctl: the operator's companion tool (commands: see kUsage).
// Exit status: 0 done, 1 failed (the reason on standard error), 2 invalid command line.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/ctl_commands.h"
#include "util/runtime_error.h"

namespace {

constexpr const char* kUsage =
    "usage: dexwebctl COMMAND [options]\n"
    "  init DIR [--port N]            make a gateway home in DIR (monitor port N, default 7400)\n"
    "  init --system [--root DIR] [--account A] [--web-group G] [--port N]\n"
    "                                 make the production home in /etc/velotrax, /var/lib/velotrax,\n"
    "                                 /var/log/velotrax (under DIR or $DEXWEB_SYSTEM_ROOT), owned by A\n"
    "                                 (default velotrax) when that account exists there; the web\n"
    "                                 writers' group G (default velotrax-web) shares the watched folder\n"
    "  submit [--home DIR | --folder F] --user U [--from F] [--to LIST] --message TEXT\n"
    "                                 write a message file as the web form does, under its rules\n"
    "  monitor [--port N] [--address A] [--count N] [--colour auto|always|never]\n"
    "                                 show the module's monitor datagrams live\n"
    "  status [--home DIR] [--json]   module state, waiting files, last rows and files; status 0 running,\n"
    "                                 3 not running, 4 unknown (the lock folder cannot be read)\n"
    "  serve [--home DIR] [--listen ADDR:PORT] [--status-listen ADDR:PORT|off] [--server-name N,...]\n"
    "                                 the web form and /healthz (default 127.0.0.1:8080); the status\n"
    "                                 pages, /status.json, /metrics on the second address (default\n"
    "                                 127.0.0.1:8081); requests must name an address or N as Host\n"
    "  prune [--home DIR] [--days N] [--dry-run]\n"
    "                                 remove bad copies older than N days (default: the registry's\n"
    "                                 Bad_Retention_Days, else 30); mail files are never removed\n"
    "  check [--home DIR] [--account A] [--web-account W] [--as service|program]\n"
    "                                 check registry values, database, control row, folders (writable by\n"
    "                                 A, default the installed unit's User=), that a file W writes into\n"
    "                                 the watched folder is readable by A, and the filter; one line each,\n"
    "                                 status 1 on a problem\n"
    "  stop | pause | start | resume [--home DIR]\n"
    "                                 write the control row: stop (dexweb_run false) and pause (dexweb_pause\n"
    "                                 true) end a running module; start or resume (dexweb_run true,\n"
    "                                 dexweb_pause false) undo both\n"
    "  version                        the version\n"
    "  help                           this text\n"
    "Without --home, the registry is $VELOTRAX_REGISTRY (default /etc/velotrax/velotrax.reg).\n";

struct Command {
  const char* name;
  int (*run)(const std::vector<std::string>&);
};

constexpr Command kCommands[] = {
    {"init", dexweb::ctl::run_init},       {"submit", dexweb::ctl::run_submit}, {"monitor", dexweb::ctl::run_monitor},
    {"status", dexweb::ctl::run_status},   {"serve", dexweb::ctl::run_serve},   {"prune", dexweb::ctl::run_prune},
    {"check", dexweb::ctl::run_check},     {"pause", dexweb::ctl::run_pause},   {"resume", dexweb::ctl::run_start},
    {"start", dexweb::ctl::run_start},     {"stop", dexweb::ctl::run_stop},     {"version", dexweb::ctl::run_version},
};

int dispatch(const std::vector<std::string>& args) {
  if (args.empty()) throw dexweb::ctl::UsageError("no command");
  if (args[0] == "--version") return dexweb::ctl::run_version({});
  if (args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  for (const Command& command : kCommands)
    if (args[0] == command.name) return command.run({args.begin() + 1, args.end()});
  throw dexweb::ctl::UsageError("unknown command " + args[0]);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dexweb;
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  try {
    return dispatch(args);
  } catch (const ctl::UsageError& e) {
    std::fprintf(stderr, "dexwebctl: %s\n%s", e.what(), kUsage);
    return 2;
  } catch (const RuntimeError& e) {
    std::fprintf(stderr, "dexwebctl: %s (error %d)\n", e.description().c_str(), e.number());
    return 1;
  }
}
