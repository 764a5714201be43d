#include "tools/ctl_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/accounts.h"
#include "platform/files.h"
#include "platform/registry_file.h"
#include "shell/startup.h"
#include "tools/gateway_home.h"
#include "tools/web_form.h"
#include "tools/web_server.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb::ctl {

Options::Options(const std::vector<std::string>& args, const std::vector<std::string>& allowed,
                 const std::vector<std::string>& flags) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!args[i].starts_with("--")) {
      words_.push_back(args[i]);
      continue;
    }
    const std::string name = args[i].substr(2);
    if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
      if (!values_.emplace(name, "").second) throw UsageError("option " + args[i] + " given twice");
      continue;
    }
    if (std::find(allowed.begin(), allowed.end(), name) == allowed.end())
      throw UsageError("unknown option " + args[i]);
    if (i + 1 == args.size()) throw UsageError("option " + args[i] + " needs a value");
    if (!values_.emplace(name, args[++i]).second) throw UsageError("option " + args[i - 1] + " given twice");
  }
}

std::optional<std::string> Options::get(const std::string& name) const {
  auto found = values_.find(name);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

std::string Options::require(const std::string& name) const {
  auto value = get(name);
  if (!value) throw UsageError("option --" + name + " is required");
  return *value;
}

std::optional<long> Options::number(const std::string& name, long min, long max) const {
  const auto text = get(name);
  if (!text) return std::nullopt;
  const auto value = text::parse_number(*text);
  if (!value || *value < min || *value > max || *value != static_cast<double>(static_cast<long>(*value)))
    throw UsageError("--" + name + " takes a whole number from " + std::to_string(min) + " to " + std::to_string(max));
  return static_cast<long>(*value);
}

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

struct ListenAddress {
  std::string host;  // an IPv6 address without its brackets
  int port;
};

// ADDRESS:PORT, an IPv6 address in brackets ("[::1]:8080") or, as before, without.
ListenAddress listen_address(const std::string& option, const std::string& text) {
  const auto colon = text.rfind(':');
  const auto port = colon == std::string::npos ? std::nullopt : text::parse_number(text.substr(colon + 1));
  std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty() || host.find_first_of("[]") != std::string::npos || !port || *port < 0 || *port > 65535 ||
      *port != static_cast<int>(*port))
    throw UsageError(option + " takes ADDRESS:PORT");
  return {host, static_cast<int>(*port)};
}

std::string url(const std::string& host, int port, const char* path) {
  const std::string shown = host.find(':') == std::string::npos ? host : "[" + host + "]";
  return "http://" + shown + ":" + std::to_string(port) + path;
}

// --server-name NAME[,NAME...]
std::vector<std::string> server_names(const Options& options) {
  std::vector<std::string> names;
  const std::string given = options.get("server-name").value_or("");
  std::string_view rest = given;
  while (!rest.empty()) {
    const std::string_view item = rest.substr(0, rest.find(','));
    rest.remove_prefix(std::min(rest.size(), item.size() + 1));
    if (std::string name = text::trim(item); !name.empty()) names.push_back(std::move(name));
  }
  return names;
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

int run_serve(const std::vector<std::string>& args) {
  const Options options(args, {"home", "listen", "status-listen", "server-name"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  const ListenAddress listen = listen_address("--listen", options.get("listen").value_or("127.0.0.1:8080"));
  const std::string status_text = options.get("status-listen").value_or("127.0.0.1:8081");
  const std::optional<ListenAddress> status =
      status_text == "off" ? std::nullopt : std::optional(listen_address("--status-listen", status_text));
  if (status && status->port != 0 && status->host == listen.host && status->port == listen.port)
    throw UsageError("--status-listen must differ from --listen");
  const std::string registry = registry_path(options);
  WebServer server(registry, watched_folder_of(registry), server_names(options));
  const int port = server.listen_public(listen.host, listen.port);
  std::printf("serving %s\n", url(listen.host, port, "/").c_str());
  if (status) std::printf("status pages at %s\n", url(status->host, server.listen_operator(status->host, status->port), "/status").c_str());
  std::fflush(stdout);
  server.run();
  return 0;
}

int run_version(const std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("version takes no options");
  std::printf("dexwebctl %s\n", std::string(module_version()).c_str());
  return 0;
}

}  // namespace dexweb::ctl
