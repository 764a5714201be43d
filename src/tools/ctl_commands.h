#pragma once
// The commands of dexwebctl. Each takes the words after its name and returns the exit
// status; bad usage raises UsageError, failures RuntimeError. The words are options
// ("--name value" pairs, and flags that take no value) and plain words.

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace dexweb::ctl {

// A command line that dexwebctl cannot take (exit status 2).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Options {
 public:
  // args are the words after the command; flags are options that take no value. Raises
  // UsageError for an option outside allowed and flags, an option without its value, or an
  // option given twice.
  Options(const std::vector<std::string>& args, const std::vector<std::string>& allowed,
          const std::vector<std::string>& flags = {});

  std::optional<std::string> get(const std::string& name) const;
  // True when the flag was given.
  bool has(const std::string& flag) const { return values_.contains(flag); }
  // Raises UsageError when the option is missing.
  std::string require(const std::string& name) const;
  // The option as a whole number in [min, max]; nullopt when missing. Raises UsageError
  // for anything else.
  std::optional<long> number(const std::string& name, long min, long max) const;
  const std::vector<std::string>& words() const { return words_; }

 private:
  std::map<std::string, std::string> values_;
  std::vector<std::string> words_;
};

// The monitor port that a new home's registry names unless told otherwise.
inline constexpr int kDefaultMonitorPort = 7400;

// The registry file of --home DIR, else the one in effect ($VELOTRAX_REGISTRY or the
// system's).
std::string registry_path(const Options& options);

// init DIR [--port N]: makes a gateway home in DIR. init --system [--root DIR] [--account A]
// [--web-group G] [--port N]: makes the production home in the system's folders (under DIR,
// else $DEXWEB_SYSTEM_ROOT, else "/"), handed to the account A (default velotrax) when the
// root's account database has it, with the watched folder shared with the web writers'
// group G (default velotrax-web, made when missing). Both print the folders, the accounts of
// the database and the commands to run next.
int run_init(const std::vector<std::string>& args);
// submit [--home DIR | --folder F] --user U [--from F] [--to LIST] --message TEXT: writes a
// message file into the watched folder (of the registry in effect when neither is given)
// and prints its path. The web form's rules apply (tools/web_form.h), each refusal named. A
// watched folder that does not exist is refused, never created.
int run_submit(const std::vector<std::string>& args);
// monitor [--port N] [--address A] [--count N] [--colour auto|always|never]: shows the
// module's monitor datagrams as they arrive (port: else the registry's Monitor VTM_Port,
// else 7400; 0 takes any free port). The listening address goes to standard error first.
int run_monitor(const std::vector<std::string>& args);
// status [--home DIR] [--json]: the gateway's state, waiting files, last rows and files.
// Status 0 when the module runs, 3 when it does not, 4 when that cannot be told (the lock
// folder cannot be read); 1 when the gateway cannot be read at all.
int run_status(const std::vector<std::string>& args);
// serve [--home DIR] [--listen ADDR:PORT]: the web form and status pages until stopped
// (default 127.0.0.1:8080; port 0 takes any free port). The watched folder is read from the
// database once, at start. The URL it serves goes to standard output first.
int run_serve(const std::vector<std::string>& args);
// prune [--home DIR] [--days N] [--dry-run]: removes the bad copies (Log_Dir + "badmsg/" +
// "*.web") older than N days (else the registry's Bad_Retention_Days, else 30), and the mail
// files and bad copies a module left half-written more than an hour ago, or with --dry-run
// only lists them. Prints each path and a count of each kind.
int run_prune(const std::vector<std::string>& args);
// check [--home DIR] [--account A] [--web-account W] [--as service|program]: checks the
// registry, the database and the control row, the folders (writable by A, default the User=
// of the installed unit VTXWeb.service, else the account running check), a file that W writes
// into the watched folder (readable by A) and the filter; one line "ok ..." or "problem ..."
// each, then the count. Status 1 when there is a problem. --as: how the module will be
// started (default: service for /etc/velotrax/velotrax.reg).
int run_check(const std::vector<std::string>& args);
// pause, stop, start (or resume) [--home DIR]: write the control row as the gateway's tools
// do (dexweb_pause true; dexweb_run false; dexweb_run true and dexweb_pause false) and say
// what that does to the module, which obeys at its next refresh: pause and stop end a running
// module's process. start says when no module runs to obey it.
int run_pause(const std::vector<std::string>& args);
int run_stop(const std::vector<std::string>& args);
int run_start(const std::vector<std::string>& args);
// version: prints "dexwebctl VERSION".
int run_version(const std::vector<std::string>& args);

}  // namespace dexweb::ctl
