#include "shell/startup.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "config/registry.h"
#include "logging/log_event.h"
#include "logging/reporter.h"
#include "logging/monitor_link.h"
#include "platform/files.h"
#include "platform/private_files.h"
#include "platform/registry_file.h"
#include "platform/process.h"
#include "shell/internal/daemon.h"
#include "shell/internal/poll_schedule.h"
#include "shell/internal/service_install.h"
#include "util/runtime_error.h"
#include "util/text.h"

#define DEXWEB_STR2(x) #x
#define DEXWEB_STR(x) DEXWEB_STR2(x)

namespace dexweb {
namespace {

constexpr int kExitRefused = 1, kExitInvalidOption = 2;

// Text before the first blank and the trimmed rest; the rest is empty without a blank.
std::pair<std::string, std::string> split_first(const std::string& s) {
  auto blank = s.find(' ');
  if (blank == std::string::npos) return {s, {}};
  return {text::trim(s.substr(0, blank)), text::trim(s.substr(blank + 1))};
}

}  // namespace

CommandLine parse_command_line(std::string_view whole) {
  CommandLine cl;
  std::string rest;
  std::tie(cl.option, rest) = split_first(text::trim(whole));
  if (!rest.empty()) {
    std::tie(cl.account, cl.password) = split_first(rest);
    if (cl.account.find('\\') == std::string::npos) cl.account = ".\\" + cl.account;
    cl.account_given = true;
  }
  return cl;
}

std::string join_arguments(int argc, char** argv) {
  std::string whole;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) whole += ' ';
    whole += argv[i];
  }
  return whole;
}

namespace {

bool database_findable(const std::string& db_dir) {
  if (db_dir.empty()) return false;
  for (const char* name : {"velotrax.db", "SqlServerConnectionString.txt"}) {
    auto info = platform::stat_path(platform::resolve_name_nocase(db_dir, name));
    if (info && !info->is_dir) return true;
  }
  return false;
}

// A service manager that started the process (whatever Run_Type says) learns that the
// module runs. Until the first poll the watchdog allows for a pause at start.
void tell_ready() {
  if (!platform::notify_socket_present()) return;
  std::string state = "READY=1\nSTATUS=Started, waiting for the first poll";
  if (const auto configured = platform::watchdog_interval())
    state += "\nWATCHDOG_USEC=" +
             std::to_string(std::max<std::chrono::microseconds>(*configured, kFirstPollAllowance).count());
  platform::notify_service_manager(state);
}

// A registry file that is not there reads as empty, which leaves the module without a
// database: say so at once rather than only at the refusal of the first tick.
void warn_missing_registry(const std::string& registry) {
  if (platform::stat_path(registry)) return;
  const std::string text = "Warning: registry file not found: " + registry + " (read as empty)";
  write_log_direct(text);
  echo_line(std::string(kModuleName) + ": " + text);
}

// A branch exported from 64-bit Windows is read in the product branch's place: say so, so
// that nobody wonders where the values come from.
void note_registry_branch(const RegistrySettings& registry) {
  if (registry.key_read == kVelotraxKey) return;
  const std::string text = "The registry file " + registry.file + " has no [HKEY_LOCAL_MACHINE\\" + kVelotraxKey +
                           "]: its values are read from [HKEY_LOCAL_MACHINE\\" + registry.key_read + "]";
  write_log_direct(text);
  echo_line(std::string(kModuleName) + ": " + text);
}

// A stop signal also ends a wait in the middle of a file's work at once (see Daemon).
void install_signals(platform::EventLoop& loop, Daemon& daemon) {
  for (int signo : {SIGTERM, SIGINT}) loop.on_stop_signal(signo, [&daemon] { daemon.request_stop(false); });
  loop.on_signal(SIGHUP, [&daemon] { daemon.reload_on_request(); });
  loop.ignore_signal(SIGPIPE);
}

// Service mode: the notification socket stands for the Start event.
int start_service(Daemon& daemon) {
  if (!database_findable(daemon.registry().DB_Dir)) {
    refuse("Unable to start. Database not found... exiting");
    return kExitRefused;
  }
  if (platform::notify_socket_present()) {
    if (!daemon.service_start()) return kExitRefused;
    tell_ready();
  }
  if (!daemon.service_started()) {
    // The time a service manager would have had to start it.
    platform::wait_unless_stopped(5);
    std::fputs("VTXWeb: Run_Type is NTService but no service manager started it "
               "(NOTIFY_SOCKET is not set)... exiting\n", stderr);
    return kExitRefused;
  }
  return daemon.run();
}

int run_module(platform::EventLoop& loop, Daemon& daemon, int argc, char** argv) {
  read_monitor_settings(daemon.registry());
  daemon.load();

  CommandLine cl = parse_command_line(join_arguments(argc, argv));
  if (cl.option == "install") return install_service(cl, daemon.registry());
  if (cl.option == "uninstall") return uninstall_service();
  if (!cl.option.empty()) {
    refuse("Invalid commandline option... exiting");
    return kExitInvalidOption;
  }
  warn_missing_registry(daemon.registry().file);
  note_registry_branch(daemon.registry());
  platform::InstanceLock lock(platform::home_private_folder(daemon.registry().DB_Dir));
  if (lock.state() == platform::InstanceLock::State::HeldElsewhere) {
    refuse("Another instance of " + std::string(kModuleName) + " is already running... exiting");
    return kExitRefused;
  }
  if (!lock.acquired()) {
    refuse("Unable to start: cannot open the instance lock " + lock.path() + ": " + std::strerror(lock.error()));
    return kExitRefused;
  }
  // Only the holder of the home may take up what an earlier run left there.
  daemon.settle_in_home();
  install_signals(loop, daemon);
  if (daemon.registry().Run_Type == "NTService") return start_service(daemon);
  if (!start_module(daemon)) return kExitRefused;
  tell_ready();
  return daemon.run();
}

}  // namespace

std::string_view module_version() {
  return DEXWEB_STR(DEXWEB_VERSION_MAJOR) "." DEXWEB_STR(DEXWEB_VERSION_MINOR) "." DEXWEB_STR(DEXWEB_VERSION_PATCH);
}

void refuse(std::string_view text) {
  write_log_direct(text);
  std::fprintf(stderr, "%s\n", std::string(text).c_str());
}

bool start_module(Daemon& daemon) {
  try {
    log_general("Module Started (v" + std::string(module_version()) + ")");
    daemon.remove_half_written_files();
    flush_log_queues();
    daemon.enable_poll_timer();
    return true;
  } catch (const RuntimeError& e) {
    log_general(
              "Error: " + std::to_string(e.number()) + " " + e.description() + " in main2");
    flush_log_queues();
    return false;
  }
}

int run_daemon(int argc, char** argv) {
  reset_process_state();
  if (join_arguments(argc, argv) == "--version") {
    std::printf("dexweb %s\n", std::string(module_version()).c_str());
    return 0;
  }
  // The one read of the registry's settings until an operator asks for another (SIGHUP).
  const platform::RegistryFile registry(platform::RegistryFile::default_path());
  // An unreadable registry is no empty one: every folder would be missing.
  try {
    registry.require_readable();
  } catch (const RuntimeError& e) {
    refuse("Unable to start: the registry file cannot be read: " + e.description());
    return kExitRefused;
  }
  platform::EventLoop& loop = platform::event_loop();
  // The daemon outlives the handlers below, so that their lines go to its log folder.
  Daemon daemon(loop, read_registry_settings(registry));
  try {
    return run_module(loop, daemon, argc, argv);
  } catch (const RuntimeError& e) {
    write_log_direct("Startup error in Main:" + std::to_string(e.number()) + " " + e.description());
    std::fprintf(stderr, "Startup error in Main:%d %s\n", e.number(), e.description().c_str());
    return kExitRefused;
  } catch (const std::exception& e) {
    // Not one of the module's own errors (out of memory, a library's exception): still a
    // line in the log and a failed exit rather than an abort.
    write_log_direct(std::string("Startup error in Main:0 ") + e.what());
    std::fprintf(stderr, "Startup error in Main:0 %s\n", e.what());
    return kExitRefused;
  }
}

}  // namespace dexweb
