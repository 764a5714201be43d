#pragma once
// A complete gateway home in one folder, for trying the module out and for tests: the
// registry file, the program, data, log, bad-message, outgoing-mail and watched folders, and
// an embedded database with its settings, control and counters rows and a few accounts.

#include <string>

namespace dexweb::ctl {

struct HomeLayout {
  std::string home;      // absolute, ending with '/'
  std::string registry;  // home + "velotrax.reg"
  std::string prog;      // Prog_Dir: home + "prog/"
  std::string data;      // DB_Dir: home + "data/"
  std::string log;       // Log_Dir: home + "log/"
  std::string web;       // the watched folder: home + "web/"
  std::string bad;       // Log_Dir + "badmsg/"
  std::string mail_out;  // DB_Dir + "MailOut/"
  std::string database;  // DB_Dir + "velotrax.db"
};

HomeLayout home_layout(const std::string& dir);

// Makes the home; raises RuntimeError when it cannot, or when dir holds a database already.
void init_home(const HomeLayout& home, int monitor_port);

}  // namespace dexweb::ctl
