#pragma once
// The daemon's copies of the gateway's settings row and control row, refreshed by the
// poll cycle at least every few seconds and read by the intake and the notifications.

#include <string>

#include "util/datetime.h"

namespace dexweb {

struct GatewaySettings {
  // settings row
  bool dexmail_enabled = false;
  std::string postmaster;
  std::string domain;
  std::string dexwebcgi_path;  // the watched folder, ending with '/'
  int retry_interval = 0;
  std::string retry_interval_text = "0";
  int dexweb_poll = 0;  // seconds
  bool log_to_disk = true;
  int log_level = 3;
  // control row; empty until the first refresh reads it, so a table without a row stops
  // the module
  bool dexweb_pause = false;
  bool dexweb_run = false;
  bool sched_state = false;
  DateTime velotrax_time{};
  // DB_Dir + "MailOut/", set at every refresh
  std::string mail_out_dir;
};

}  // namespace dexweb
