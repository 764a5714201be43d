#pragma once
// A complete gateway home: the registry file, the program, data, log, bad-message,
// outgoing-mail and watched folders, and an embedded database with its settings, control and
// counters rows. A home in one folder (for trying the module out and for tests) also gets a
// few accounts; the production home of a package install lives in the system's folders.

#include <string>

namespace dexweb::ctl {

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

// The file-system path of a gateway path: root + path.
std::string on_disk(const HomeLayout& home, const std::string& path);

// Makes the home; raises RuntimeError when it cannot, or when it holds a database already.
// The registry file is refused too when it exists, so a site's settings are never replaced.
void init_home(const HomeLayout& home, int monitor_port);

}  // namespace dexweb::ctl
