#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/accounts.h"
#include "platform/files.h"
#include "platform/registry_file.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_options.h"
#include "tools/home_check.h"
#include "tools/gateway_status.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb::ctl {
namespace {

constexpr const char* kUnit = "VTXWeb.service";

// The unit is found where `dexweb install` writes it ($DEXWEB_UNIT_DIR), else in systemd's
// folders, the administrator's first.
std::vector<std::string> unit_folders() {
  const char* chosen = std::getenv("DEXWEB_UNIT_DIR");
  if (chosen && *chosen) return {std::string(chosen) + "/"};
  return {"/etc/systemd/system/", "/run/systemd/system/", "/usr/lib/systemd/system/", "/lib/systemd/system/"};
}

// The last User= of the text, unquoted; "" resets it (root).
void take_user(const std::string& unit_text, std::optional<std::string>& user) {
  for (const std::string& raw : split_lines(unit_text)) {
    const std::string line = text::trim(raw);
    if (line.starts_with("User=")) user = text::trim_chars(line.substr(5), "\"' ");
  }
}

// The account the installed unit runs the module as (its drop-ins included): nullopt when no
// unit is installed.
std::optional<std::string> unit_account() {
  std::optional<std::string> unit;
  std::vector<std::string> drop_ins;
  for (const std::string& folder : unit_folders()) {
    if (!unit && platform::stat_path(folder + kUnit)) unit = folder + kUnit;
    const std::string drop_in_folder = folder + kUnit + ".d/";
    if (platform::stat_path(drop_in_folder))
      for (const platform::DirEntry& e : platform::list_files(drop_in_folder, ".conf")) drop_ins.push_back(drop_in_folder + e.name);
  }
  if (!unit) return std::nullopt;
  std::optional<std::string> user;
  try {
    take_user(platform::read_file(*unit, 1 << 16), user);
    // Drop-ins apply in the order of their names, whichever folder holds them.
    std::sort(drop_ins.begin(), drop_ins.end(), [](const std::string& a, const std::string& b) {
      return a.substr(a.rfind('/')) < b.substr(b.rfind('/'));
    });
    for (const std::string& drop_in : drop_ins) take_user(platform::read_file(drop_in, 1 << 16), user);
  } catch (const RuntimeError&) {
    // An unreadable unit or drop-in names no account: the check falls back to systemd's default.
  }
  return user && !user->empty() ? *user : "root";
}

// The unit of the package runs the module for the system's registry.
bool started_by_systemd(const Options& options, const std::string& registry) {
  const std::string as = options.get("as").value_or(registry == "/etc/velotrax/velotrax.reg" ? "service" : "program");
  if (as != "service" && as != "program") throw UsageError("--as takes service or program");
  return as == "service";
}

}  // namespace

int run_check(const std::vector<std::string>& args) {
  const Options options(args, {"home", "account", "as", "web-account"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  CheckRequest request;
  request.registry_path = registry_path(options);
  request.as_service = started_by_systemd(options, request.registry_path);
  request.account = options.get("account").value_or(unit_account().value_or(platform::current_account()));
  request.web_account = options.get("web-account").value_or("");
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
