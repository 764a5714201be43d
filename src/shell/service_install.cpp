#include "shell/service_install.h"

#include <cstdio>
#include <cstdlib>

#include "config/globals.h"
#include "platform/files.h"
#include "platform/registry_file.h"
#include "platform/service_manager.h"
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

std::string unit_name() { return globals().ModuleName + ".service"; }

// systemd splits unquoted assignments at blanks.
std::string environment_line(const std::string& assignment) {
  return assignment.find(' ') == std::string::npos ? "Environment=" + assignment
                                                   : "Environment=\"" + assignment + "\"";
}

std::string absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  const char* pwd = std::getenv("PWD");
  return std::string(pwd ? pwd : ".") + "/" + path;
}

}  // namespace

std::string service_unit_text(const std::string& executable, const std::string& registry,
                              const CommandLine& cl) {
  std::string user = cl.account;
  if (user.starts_with(".\\")) user = user.substr(2);
  std::string text =
      "[Unit]\n"
      "Description=" + globals().ModuleName + " - Velotrax web message intake\n"
      "After=network-online.target\n"
      "\n"
      "[Service]\n"
      "Type=notify\n"
      "ExecStart=\"" + executable + "\"\n" +
      environment_line("VELOTRAX_REGISTRY=" + registry) + "\n";
  if (!user.empty()) text += "User=" + user + "\n";
  // A halt ends the process with status 1 and the unit shows it as failed; systemd then
  // tries again after a pause, so that an outage of the database is ridden out.
  text += "Restart=on-failure\nRestartSec=30\n";
  text += "\n[Install]\nWantedBy=multi-user.target\n";
  return text;
}

int install_service(const CommandLine& cl) {
  std::string path = unit_dir() + unit_name();
  try {
    std::string registry = absolute(platform::RegistryFile::default_path());
    platform::write_file_atomic(path, service_unit_text(platform::executable_path(), registry, cl));
  } catch (const RuntimeError& e) {
    std::fprintf(stderr, "Unable to install %s: %s\n", path.c_str(), e.description().c_str());
    return 1;
  }
  if (ask_systemctl()) {
    platform::run_systemctl("daemon-reload", "");
    platform::run_systemctl("enable", globals().ModuleName);
  }
  std::printf("Installed %s\n", path.c_str());
  return 0;
}

int uninstall_service() {
  std::string path = unit_dir() + unit_name();
  if (ask_systemctl()) platform::run_systemctl("disable", globals().ModuleName);
  try {
    platform::remove_file(path);
  } catch (const RuntimeError& e) {
    std::fprintf(stderr, "Unable to remove %s: %s\n", path.c_str(), e.description().c_str());
    return 1;
  }
  if (ask_systemctl()) platform::run_systemctl("daemon-reload", "");
  std::printf("Removed %s\n", path.c_str());
  return 0;
}

}  // namespace dexweb
