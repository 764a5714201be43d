#include "tools/ctl_commands.h"

#include <cstdio>
#include <cstdlib>

#include "platform/accounts.h"
#include "platform/files.h"
#include "platform/registry_file.h"
#include "tools/ctl_options.h"
#include "tools/gateway_home.h"
#include "tools/web_form.h"
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
  if (options.get("root") || options.get("account") || options.get("web-group"))
    throw UsageError("--root, --account and --web-group go with --system");
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
  const std::string group = options.get("web-group").value_or(kWebGroup);
  const std::string accounts_of = home.root.empty() ? std::string("this system") : home.root;
  init_home(home, port);
  print_folders(home);
  const auto numbers = platform::find_account(home.root, account);
  if (numbers) {
    const unsigned web_gid = web_group(home, group);
    hand_over(home, *numbers, web_gid);
    std::printf("Owner: %s (%s, %s); registry readable by its group\n", account.c_str(), home.data.c_str(),
                home.log.c_str());
    try {
      grant_web_access(home, *numbers, web_gid);
      std::printf("Web writers: group %s; %s is setgid to it, and its default ACL lets %s read (and delete)\n"
                  "  every file they write there\n",
                  group.c_str(), home.web.c_str(), account.c_str());
    } catch (const RuntimeError& e) {
      // Without ACLs the account reads through the group instead.
      std::printf("Web writers: group %s; %s is setgid to it, but %s\n  Instead: usermod -a -G %s %s && chmod o+x %s\n",
                  group.c_str(), home.web.c_str(), e.description().c_str(), group.c_str(), account.c_str(),
                  home.data.c_str());
    }
  } else {
    std::printf("Owner: root; the account %s does not exist in %s (the package makes it: systemd-sysusers)\n",
                account.c_str(), accounts_of.c_str());
  }
  print_accounts(home);
  std::printf("Next:\n");
  if (numbers)
    std::printf("  usermod -a -G %s www-data        # the web server's account (www-data here) writes messages\n",
                group.c_str());
  std::printf("  systemctl enable --now VTXWeb.service dexweb-prune.timer\n");
  std::printf("  dexwebctl check --web-account www-data\n");
  std::printf("  dexwebctl status\n");
  return 0;
}

}  // namespace

std::string registry_path(const Options& options) {
  const auto home = options.get("home");
  return home ? home_layout(*home).registry : platform::RegistryFile::default_path();
}

int run_init(const std::vector<std::string>& args) {
  const Options options(args, {"port", "root", "account", "web-group"}, {"system"});
  const int port = static_cast<int>(options.number("port", 1, 65535).value_or(kDefaultMonitorPort));
  return options.has("system") ? init_system_home(options, port) : init_folder_home(options, port);
}

int run_submit(const std::vector<std::string>& args) {
  const Options options(args, {"home", "folder", "user", "from", "to", "message"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  const std::string folder = watched_folder(options);
  // The form's own rules: a line break inside a field would start a field of its own.
  const FormCheck form = check_form({{"account", options.require("user")}, {"sender", options.get("from").value_or("")},
                                     {"recipients", options.get("to").value_or("")},
                                     {"message", options.get("message").value_or("")}});
  if (!form.submission) {
    std::string problems;
    for (const std::string& problem : form.problems) problems += " " + problem;
    throw RuntimeError(err::kInvalidProcedureCall, "submit refused by the web form's rules:" + problems);
  }
  const WebSubmission& submission = *form.submission;
  // The module watches a folder that the site made; a typing error must not make another.
  const auto info = platform::stat_path(folder);
  if (!info || !info->is_dir) throw RuntimeError(err::kPathNotFound, "watched folder not found: " + folder);
  std::printf("%s\n", submit_web_message(folder, submission).c_str());
  return 0;
}

}  // namespace dexweb::ctl
