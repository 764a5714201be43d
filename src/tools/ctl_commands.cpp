#include "tools/ctl_commands.h"

#include <cstdio>
#include <cstdlib>

#include "platform/files.h"
#include "platform/registry_file.h"
#include "tools/ctl_options.h"
#include "tools/gateway_home.h"
#include "tools/home_database.h"
#include "tools/submit_message.h"
#include "tools/system_owner.h"
#include "util/runtime_error.h"

namespace dexweb::ctl {
namespace {

std::string watched_folder(const Options& options) {
  const auto folder = options.get("folder");
  const auto home = options.get("home");
  if (folder && home) throw UsageError("give --home or --folder, not both");
  if (folder) return *folder;
  return watched_folder_of(registry_path(options));
}

void print_accounts(const HomeLayout& home) {
  if (!home.seed_accounts) {
    std::printf("Accounts: none yet; add the site's rows to the users table of %s\n", home.database.c_str());
    return;
  }
  std::printf("Accounts:");
  for (const SeedAccount& a : kSeedAccounts) std::printf(" %s", a.user);
  std::printf("\n");
}

void print_folders(const HomeLayout& home) {
  std::printf("Made a gateway home%s%s\n", home.root.empty() ? "" : " under ", home.root.c_str());
  std::printf("  registry        %s\n  Prog_Dir        %s\n  DB_Dir          %s\n  Log_Dir         %s\n"
              "  watched folder  %s\n",
              home.registry.c_str(), home.prog.c_str(), home.data.c_str(), home.log.c_str(), home.web.c_str());
}

int init_folder_home(const Options& options, int port) {
  if (options.words().size() != 1) throw UsageError("init takes one folder, or --system");
  if (options.get("root") || options.get("account")) throw UsageError("--root and --account go with --system");
  const HomeLayout home = home_layout(options.words()[0]);
  init_home(home, port);
  print_folders(home);
  print_accounts(home);
  std::printf("Next:\n");
  std::printf("  export VELOTRAX_REGISTRY=%s\n", home.registry.c_str());
  std::printf("  dexweb                      # the module, in the foreground\n");
  std::printf("  dexwebctl submit --home %s --user sales --to bob --message hello\n", home.home.c_str());
  std::printf("  dexwebctl status --home %s\n", home.home.c_str());
  return 0;
}

int init_system_home(const Options& options, int port) {
  if (!options.words().empty()) throw UsageError("init --system takes no folder");
  const char* env_root = std::getenv("DEXWEB_SYSTEM_ROOT");
  const HomeLayout home = system_layout(options.get("root").value_or(env_root ? env_root : ""));
  const std::string account = options.get("account").value_or(kServiceAccount);
  init_home(home, port);
  print_folders(home);
  if (account_exists(account)) {
    hand_over(home, account);
    std::printf("Owner: %s (%s, %s); registry readable by its group\n", account.c_str(), home.data.c_str(),
                home.log.c_str());
  } else {
    std::printf("Owner: root; the account %s does not exist (the package makes it: systemd-sysusers)\n",
                account.c_str());
  }
  print_accounts(home);
  std::printf("Next:\n");
  std::printf("  setfacl -m u:www-data:x %s && setfacl -m u:www-data:rwx %s   # the web server writes here\n",
              home.data.c_str(), home.web.c_str());
  std::printf("  systemctl enable --now VTXWeb.service dexweb-prune.timer\n");
  std::printf("  systemctl status VTXWeb\n");
  std::printf("  dexwebctl status\n");
  return 0;
}

}  // namespace

std::string registry_path(const Options& options) {
  const auto home = options.get("home");
  return home ? home_layout(*home).registry : platform::RegistryFile::default_path();
}

int run_init(const std::vector<std::string>& args) {
  const Options options(args, {"port", "root", "account"}, {"system"});
  const int port = static_cast<int>(options.number("port", 1, 65535).value_or(kDefaultMonitorPort));
  return options.has("system") ? init_system_home(options, port) : init_folder_home(options, port);
}

int run_submit(const std::vector<std::string>& args) {
  const Options options(args, {"home", "folder", "user", "from", "to", "message"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  const WebSubmission submission{options.require("user"), options.get("from").value_or(""),
                                 options.get("to").value_or(""), options.get("message").value_or("")};
  const std::string folder = watched_folder(options);
  // The module watches a folder that the site made; a typing error must not make another.
  const auto info = platform::stat_path(folder);
  if (!info || !info->is_dir) throw RuntimeError(err::kPathNotFound, "watched folder not found: " + folder);
  std::printf("%s\n", submit_web_message(folder, submission).c_str());
  return 0;
}

}  // namespace dexweb::ctl
