#pragma once
// `dexwebctl check`: everything the module needs from a home, checked before it runs. Each
// check gives one line, "ok ..." or "problem ...".

#include <string>
#include <vector>

namespace dexweb::ctl {

struct CheckLine {
  bool ok;
  std::string text;  // without the leading word
};

struct CheckRequest {
  std::string registry_path;
  // The account the module will run as: folders must be writable by it.
  std::string account;
  // The web server's account, when given: a file it writes into the watched folder must be
  // readable by account.
  std::string web_account;
  // True when systemd will start the module (Run_Type must then be "NTService"), false for
  // a start as a program (where "NTService" makes the module wait for a service manager
  // and end).
  bool as_service = false;
};

// The registry file: readable (the module refuses one it cannot read); line by line, its
// header, lines that are no key, value, comment or blank, unknown keys below the product's
// key and unknown values in the module's keys; the branch read (a WOW6432Node branch in the
// product's place is said); every value of the module's own as the module reads it
// (config/registry.h); and Run_Type against how the module will be started.
std::vector<CheckLine> check_registry(const CheckRequest& request);
// The database (opens, of a kind the module supports; dbversion 1100; the settings row; the
// control row and what its flags do to the module; the worked-files table where present),
// the connection-string file, the folders (exist, writable by the account), a file of the
// web account in the watched folder, and the filter components of Prog_Dir (the library
// also as the hardened unit loads it: executable stack, machine).
std::vector<CheckLine> check_home(const CheckRequest& request);

}  // namespace dexweb::ctl
