#include "shell/internal/service_install.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/registry_file.h"
#include "platform/process.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

constexpr const char* kDefaultUnitDir = "/etc/systemd/system/";

std::string unit_dir() {
  const char* env = std::getenv("DEXWEB_UNIT_DIR");
  std::string dir = env && *env ? env : kDefaultUnitDir;
  if (dir.back() != '/') dir += '/';
  return dir;
}

bool ask_systemctl() { return !std::getenv("DEXWEB_UNIT_DIR") && platform::systemd_running(); }

std::string unit_name() { return std::string(kModuleName) + ".service"; }

// A value in systemd's double quotes: backslashes and quotes escaped, '%' doubled so that it
// is no specifier, and in command lines '$' doubled so that it is no variable.
std::string unit_quoted(std::string_view value, bool command) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '%' || (command && c == '$')) out += c;
    out += c;
  }
  return out + "\"";
}

// A path as condition settings take it: unquoted, only its '%' doubled.
std::string unit_path(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '%') out += c;
    out += c;
  }
  return out;
}

// A value as one word: quoted when it holds blanks, quotes or backslashes, otherwise only its
// '%' doubled.
std::string unit_word(std::string_view value) {
  if (value.find_first_of(" \t\"'\\") != std::string_view::npos) return unit_quoted(value, false);
  return unit_path(value);
}

std::string absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  const char* pwd = std::getenv("PWD");
  return std::string(pwd ? pwd : ".") + "/" + path;
}

bool under_home(const std::string& path) {
  for (std::string_view top : {"/home/", "/root/", "/run/user/"})
    if (path.starts_with(top)) return true;
  return false;
}

// Runs systemctl; a failure goes to standard error. True when it succeeded.
bool systemctl(const std::string& verb, const std::string& unit) {
  const int status = platform::run_systemctl(verb, unit);
  if (status == 0) return true;
  std::fprintf(stderr, "systemctl %s %s failed (%s %d)\n", verb.c_str(), unit.c_str(),
               status < 0 ? "did not finish," : "exit status", status);
  return false;
}

}  // namespace

std::string service_unit_text(const std::string& executable, const std::string& registry,
                              const RegistrySettings& settings, const CommandLine& cl) {
  std::string user = cl.account;
  if (user.starts_with(".\\")) user = user.substr(2);
  // The module writes its data and log folders; "-" lets a folder be missing. A watched
  // folder elsewhere needs a drop-in (systemctl edit) with its own ReadWritePaths=.
  const std::string data = settings.DB_Dir.empty() ? "/var/lib/velotrax/" : absolute(settings.DB_Dir);
  const std::string log = absolute(settings.log_folder());
  const bool home_inside = under_home(registry) || under_home(data) || under_home(log);
  // packaging/VTXWeb.service holds the same lines for the package's paths (the package's
  // test compares them), with the reasons for each.
  std::string text =
      "[Unit]\n"
      "Description=" + std::string(kModuleName) + " - Velotrax web message intake\n"
      "Documentation=man:dexweb(8)\n"
      "After=network-online.target\n"
      "Wants=network-online.target\n"
      "ConditionPathExists=" + unit_path(registry) + "\n"
      "StartLimitIntervalSec=600\n"
      "StartLimitBurst=5\n"
      "\n"
      "[Service]\n"
      "Type=notify\n"
      "WatchdogSec=180\n"
      "ExecStart=" + unit_quoted(executable, true) + "\n"
      "ExecReload=/bin/sh -c 'kill -HUP $MAINPID'\n"
      "Environment=" + unit_word("VELOTRAX_REGISTRY=" + registry) + "\n";
  if (!user.empty()) text += "User=" + unit_word(user) + "\n";
  text +=
      "KillMode=mixed\n"
      "TimeoutStopSec=150\n"
      "Restart=on-failure\n"
      "RestartSec=30\n"
      "RuntimeDirectory=dexweb\n"
      "UMask=0027\n"
      "CapabilityBoundingSet=CAP_LEASE\n"
      "AmbientCapabilities=CAP_LEASE\n"
      "NoNewPrivileges=yes\n"
      "ProtectSystem=strict\n"
      "ReadWritePaths=" + unit_word("-" + data) + " " + unit_word("-" + log) + "\n"
      // A home under /home stays visible (read-only but for the paths above).
      "ProtectHome=" + std::string(home_inside ? "read-only" : "yes") + "\n"
      "PrivateTmp=yes\n"
      "PrivateDevices=yes\n"
      "ProtectKernelTunables=yes\n"
      "ProtectKernelModules=yes\n"
      "ProtectKernelLogs=yes\n"
      "ProtectControlGroups=yes\n"
      "ProtectClock=yes\n"
      "ProtectHostname=yes\n"
      "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6\n"
      "RestrictNamespaces=yes\n"
      "LockPersonality=yes\n"
      "MemoryDenyWriteExecute=yes\n"
      "RestrictRealtime=yes\n"
      "RestrictSUIDSGID=yes\n"
      "RemoveIPC=yes\n"
      "SystemCallArchitectures=native\n"
      "SystemCallFilter=@system-service\n"
      "SystemCallErrorNumber=EPERM\n"
      "\n"
      "[Install]\n"
      "WantedBy=multi-user.target\n"
      "Alias=dexweb.service\n";
  return text;
}

namespace {

// What would make the unit fail or run otherwise than meant; the unit is written anyway.
void warn_about_registry(const std::string& given, const RegistrySettings& settings) {
  const std::string registry = absolute(given);
  if (given.empty() || given[0] != '/')
    std::fprintf(stderr, "Warning: the registry path %s is relative; the unit names %s\n", given.c_str(),
                 registry.c_str());
  if (!platform::stat_path(registry)) {
    std::fprintf(stderr, "Warning: the registry file %s does not exist; the module will find no database\n",
                 registry.c_str());
    return;
  }
  if (settings.Run_Type != "NTService")
    std::fprintf(stderr, "Warning: the registry says Run_Type \"%s\"; set \"NTService\" for a service\n",
                 settings.Run_Type.c_str());
}

}  // namespace

int install_service(const CommandLine& cl, const RegistrySettings& settings) {
  std::string path = unit_dir() + unit_name();
  warn_about_registry(settings.file, settings);
  try {
    std::string registry = absolute(settings.file);
    platform::write_file_atomic(path, service_unit_text(platform::executable_path(), registry, settings, cl));
  } catch (const RuntimeError& e) {
    std::fprintf(stderr, "Unable to install %s: %s\n", path.c_str(), e.description().c_str());
    return 1;
  }
  std::printf("Installed %s\n", path.c_str());
  if (ask_systemctl() && !(systemctl("daemon-reload", "") && systemctl("enable", std::string(kModuleName)))) return 1;
  return 0;
}

int uninstall_service() {
  std::string path = unit_dir() + unit_name();
  if (!platform::stat_path(path)) {
    std::fprintf(stderr, "No unit to remove: %s does not exist\n", path.c_str());
    return 1;
  }
  bool ok = !ask_systemctl() || systemctl("disable", std::string(kModuleName));
  try {
    platform::remove_file(path);
  } catch (const RuntimeError& e) {
    std::fprintf(stderr, "Unable to remove %s: %s\n", path.c_str(), e.description().c_str());
    return 1;
  }
  if (ask_systemctl()) ok = systemctl("daemon-reload", "") && ok;
  std::printf("Removed %s\n", path.c_str());
  return ok ? 0 : 1;
}

}  // namespace dexweb
