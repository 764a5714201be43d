#pragma once
// A gateway home as the operator's commands see it: what a registry file names (the folders,
// the database, the watched folder), and making a complete home: the registry file, the
// program, data, log, bad-message, outgoing-mail and watched folders, and an embedded
// database with its settings, control and counters rows. A home in one folder (for trying
// the module out and for tests) also gets a few accounts; the production home of a package
// install lives in the system's folders, handed to the service's account through the
// system's own tools (groupadd, chown, chmod) and POSIX ACLs, as a package's scripts would.

#include <string>
#include <string_view>

#include "data/db_object.h"
#include "platform/accounts.h"

namespace dexweb {
class DBObject;
}

namespace dexweb::ctl {

// A folder value of the product key (Prog_Dir, DB_Dir, Log_Dir) with a trailing '/';
// empty text when the file, the key or the value is missing.
std::string registry_folder(const std::string& registry_path, std::string_view name);

// Raises RuntimeError 53 "registry file not found: PATH" when the file is missing, and the
// file error "registry file cannot be read: ..." when it cannot be read (either would
// otherwise read as an empty registry).
void require_registry_file(const std::string& registry_path);

// The settings of a DBObject on the registry's DB_Dir, failing at once rather than retrying
// (a person is waiting). Raises RuntimeError when the registry file is missing or names no
// DB_Dir.
DatabaseSettings gateway_database_settings(const std::string& registry_path);

// The settings row's dexwebcgi_path; raises RuntimeError when there is no settings row.
std::string read_watched_folder(DBObject& db);

// The watched folder of the gateway whose registry file is registry_path: the settings
// row's dexwebcgi_path in the database under its DB_Dir. Raises RuntimeError when the
// registry names no DB_Dir or the database cannot be read.
std::string watched_folder_of(const std::string& registry_path);

struct HomeLayout {
  // Every path below is as the gateway sees it; files are written under root + path (empty
  // root: the paths themselves), so that a system home can be made inside an image.
  std::string root;
  std::string home;      // the folder that holds the rest, ending with '/'
  std::string registry;  // the registry file
  std::string prog;      // Prog_Dir
  std::string data;      // DB_Dir
  std::string log;       // Log_Dir
  std::string web;       // the watched folder
  std::string bad;       // Log_Dir + "badmsg/"
  std::string mail_out;  // DB_Dir + "MailOut/"
  std::string database;  // DB_Dir + "velotrax.db"
  std::string run_type;  // Services\Run_Type
  bool seed_accounts = false;
};

// A home in one folder: registry dir + "velotrax.reg", folders prog/, data/, log/, web/;
// Run_Type "Application" and the demonstration accounts.
HomeLayout home_layout(const std::string& dir);

// The production home: /etc/velotrax/velotrax.reg, Prog_Dir /usr/lib/dexweb/, DB_Dir
// /var/lib/velotrax/, Log_Dir /var/log/velotrax/, watched folder /var/lib/velotrax/web/,
// Run_Type "NTService", no accounts; written under root (a folder, or empty for "/").
HomeLayout system_layout(const std::string& root);

// The accounts that a new home has, one of each kind the intake tells apart.
struct SeedAccount {
  const char* user;
  const char* full_name;
  bool ad_hoc, multi_page, web_service, group_list;
};
inline constexpr SeedAccount kSeedAccounts[] = {
    {"sales", "Sales desk", false, false, true, false},
    {"bob", "Bob", false, false, true, false},
    {"amy", "Amy", false, false, true, false},
    {"joe", "Joe", false, false, true, false},
    {"staff", "Staff group", false, false, true, true},
    {"adhoc", "Ad-hoc pagers", true, false, true, false},
    {"noweb", "Not reachable from the web", false, false, false, false},
};

// Makes the home; raises RuntimeError when it cannot, or when it holds a database already.
// The registry file is refused too when it exists, so a site's settings are never replaced.
// The database gets the settings row (watched folder home.web, dbversion 1100, poll every
// 2 s, log level 3, log to disk), the control row (running), the counters row and, when
// home.seed_accounts, the kSeedAccounts. The schema file is the one of the "schema" folder
// beside the executable (the build's copy), else of the installed share/dexweb/schema of
// the executable's prefix.
void init_home(const HomeLayout& home, int monitor_port);

// The account the packaged unit runs as, and the group of the accounts that write the
// watched folder (the web server's). Accounts and groups are those of the home's root (an
// image has its own).
inline constexpr const char* kServiceAccount = "velotrax";
inline constexpr const char* kWebGroup = "velotrax-web";

// The web writers' group of the home's root: found, else made (groupadd --system). Raises
// RuntimeError naming the command that failed.
unsigned web_group(const HomeLayout& home, const std::string& name);

// Gives the data and log folders (with all they hold) to the account and its group, and the
// registry folder and file to root with the account's group; folders 0750, files 0640. The
// watched folder becomes the account's with the web group, mode 2770 (setgid: what the web
// writers create there belongs to the group). Raises RuntimeError naming what failed.
void hand_over(const HomeLayout& home, platform::AccountNumbers account, unsigned web_gid);

// The ACLs that complete the sharing: the watched folder's default ACL gives the account read
// access to every file written there (its folder lets it delete them), and the web group may
// pass through the data folder. Raises RuntimeError where the file system has no ACLs.
void grant_web_access(const HomeLayout& home, platform::AccountNumbers account, unsigned web_gid);

}  // namespace dexweb::ctl
