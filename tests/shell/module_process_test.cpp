// The module as an operator meets it: the real executable in a child process on a gateway
// home. It starts, refuses a second instance, obeys signals, the control row and the
// service manager; a stop ends the run between two files, or abandons a message whose work
// waits; and the embedded database's files handled as operators handle them never cost a
// message.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <thread>

#include "platform/sqlite_db.h"
#include "support/ctl_runner.h"
#include "support/udp_listener.h"

namespace dexweb::test {
namespace {

namespace fs = std::filesystem;

// The service manager's notification socket, as systemd provides it.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path), fd_(::socket(AF_UNIX, SOCK_DGRAM, 0)) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  }
  ~NotifySocket() { ::close(fd_); ::unlink(path_.c_str()); }
  std::string receive(int timeout_ms = 10000) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return "<nothing>";
    char buf[512];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  // Receives until a datagram starts with prefix; that datagram, or nothing.
  std::optional<std::string> receive_until(const std::string& prefix) {
    for (int i = 0; i < 200; ++i) {
      std::string d = receive();
      if (d == "<nothing>") return std::nullopt;
      if (d.starts_with(prefix)) return d;
    }
    return std::nullopt;
  }

 private:
  std::string path_;
  int fd_;
};

// What the cases on a home do with the real module besides starting it.
class ModuleProcess : public GatewayHome {
 protected:
  // SIGTERM, which must end the run with status 0.
  static void stop(ChildProcess& module) {
    module.signal(SIGTERM);
    EXPECT_EQ(module.wait(), 0) << module.stderr_text();
  }
  // A run until no file waits in the folder or its claims, then its stop.
  void run_until_drained() const {
    const auto module = start_module();
    EXPECT_TRUE(wait_until([&] { return waiting_files() == 0; }, 60)) << module->stderr_text();
    stop(*module);
  }
};

// The module as an operator meets it: the real executable in a child process on a home that
// dexwebctl init made, with a monitor of the test's own.
class Startup : public ModuleProcess {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(GatewayHome::SetUp());
    set_registry("VTM_Port", std::to_string(monitor.port()));
    registry = read_text(home + "velotrax.reg");
  }
  // Sets a value the registry file holds already.
  void set_registry(const std::string& name, const std::string& value) const {
    const std::string reg = home + "velotrax.reg";
    write_text(reg, std::regex_replace(read_text(reg), std::regex("\"" + name + "\"=\"[^\"]*\""), "\"" + name + "\"=\"" + value + "\""));
  }
  void control(const std::string& command) const { ASSERT_EQ(run_ctl({command, "--home", home}), 0); }
  static bool wait_for_heartbeat(UdpListener& monitor) {
    for (int i = 0; i < 50; ++i)
      for (const std::string& d : monitor.receive_all())
        if (d.find("|running|") != std::string::npos) return true;
    return false;
  }

  UdpListener monitor;
  std::string registry;  // the registry file as SetUp left it
};

// Elsewhere than on a terminal a normal run, a message worked included, says nothing on
// standard error.
TEST_F(Startup, ProgramModeStartsRefusesASecondInstanceOfItsHomeAndStopsOnSigterm) {
  submit("bob");
  const auto module = start_module();
  ASSERT_TRUE(wait_logged("Module Started (v1.0.0)"));
  auto datagrams = monitor.receive_all();
  ASSERT_FALSE(datagrams.empty());
  EXPECT_EQ(datagrams.front().substr(0, 7), "VTXWeb|");
  EXPECT_EQ(datagrams.front().substr(26), "|general|Module Started (v1.0.0)\r");

  // One module per data folder, whatever the caller's environment names it by: a link to
  // the registry, a copy of it, the service manager's runtime folder.
  TempDir elsewhere;
  std::filesystem::create_symlink(home + "velotrax.reg", elsewhere.file("linked.reg"));
  std::filesystem::copy_file(home + "velotrax.reg", elsewhere.file("copy.reg"));
  std::string err;
  for (const auto& second : {env(),
                             std::map<std::string, std::string>{{"VELOTRAX_REGISTRY", elsewhere.file("linked.reg")}},
                             std::map<std::string, std::string>{{"VELOTRAX_REGISTRY", elsewhere.file("copy.reg")},
                                                                {"RUNTIME_DIRECTORY", elsewhere.dir()}}}) {
    EXPECT_EQ(run_to_end({DEXWEB_BIN}, second, &err), 1);
    EXPECT_TRUE(has(err, "Another instance of VTXWeb is already running... exiting")) << err;
  }

  ASSERT_TRUE(wait_until([&] { return files_in(web).empty(); }));
  stop(*module);
  EXPECT_TRUE(logged("  Module Stopped\r\n"));
  EXPECT_EQ(module->stderr_text(), "");

  // A lock folder the module cannot use is reported as that.
  std::filesystem::remove_all(home + "data/lock");
  write_text(home + "data/lock", "");
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 1);
  EXPECT_TRUE(has(err, "cannot open the instance lock ")) << err;
}

// The registry is read at start and at SIGHUP only; the data folder stays the run's.
TEST_F(Startup, SighupReadsTheRegistryAndTheBlacklistAgainAndNeverStops) {
  const auto module = start_module();
  ASSERT_TRUE(wait_logged("Module Started (v1.0.0)"));
  UdpListener moved;
  TempDir other_data;
  set_registry("DB_Dir", other_data.dir());
  set_registry("VTM_Port", std::to_string(moved.port()));
  monitor.receive_all();
  EXPECT_TRUE(wait_for_heartbeat(monitor));  // the file changed, but nobody asked to read it
  module->signal(SIGHUP);
  EXPECT_TRUE(wait_logged("  Blacklist and monitor settings read again\r\n"));
  EXPECT_TRUE(wait_for_heartbeat(moved));
  EXPECT_EQ(module->wait(0.5), -1);  // still running
}

// The control row stops the module, which says why and what undoes it; a control table
// without a row does not let it run.
TEST_F(Startup, ProgramModeObeysTheControlRowAndSaysWhy) {
  const auto module = start_module();
  ASSERT_TRUE(wait_for_heartbeat(monitor));  // past the first tick: a pause now is a pause while running
  sql("UPDATE [control] SET [dexweb_pause] = 1");
  EXPECT_EQ(module->wait(), 0);
  EXPECT_TRUE(logged("  Running cleanup routine\r\n"));
  EXPECT_TRUE(logged("  Module Stopped\r\n"));
  EXPECT_TRUE(has(module->stderr_text(), "VTXWeb: dexweb_pause is true in the control row: stopping; run `dexwebctl resume`\n"))
      << module->stderr_text();

  sql("DELETE FROM [control]");
  std::string err;
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err, 10), 0);
  EXPECT_TRUE(has(err, "VTXWeb: The control table has no row, so dexweb_run reads false: stopping;")) << err;
}

// Under systemd (Type=notify), with Run_Type "NTService" or "Application": ready, fed after
// each poll, a status line with the counts, and the stop, by a signal or by the control row.
TEST_F(Startup, UnderAServiceManagerItReportsReadyPollsAndStop) {
  for (const char* run_type : {"Application", "NTService"}) {
    SCOPED_TRACE(run_type);
    set_registry("Run_Type", run_type);
    NotifySocket notify(dir.file("notify"));
    auto e = env();
    e["NOTIFY_SOCKET"] = dir.file("notify");
    e["WATCHDOG_USEC"] = "60000000";
    control("pause");  // paused at start: no poll runs, so the watchdog must not be fed
    ChildProcess module({DEXWEB_BIN}, e);
    const std::string ready = notify.receive();
    EXPECT_TRUE(ready.starts_with("READY=1\nSTATUS=")) << ready << module.stderr_text();
    EXPECT_TRUE(has(ready, "\nWATCHDOG_USEC=330000000")) << ready;
    EXPECT_EQ(notify.receive(3000), "<nothing>");

    submit("bob");
    submit("noweb");
    control("resume");
    const auto first = notify.receive_until("WATCHDOG_USEC=");
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, "WATCHDOG_USEC=60000000");
    EXPECT_TRUE(notify.receive_until("WATCHDOG=1"));
    std::optional<std::string> line;
    ASSERT_TRUE(wait_until([&] { return (line = notify.receive_until("STATUS=")) && has(*line, "waiting 0"); }));
    // bob's message gives bob's row and one for the recipient bob; noweb's is refused.
    EXPECT_TRUE(std::regex_search(*line, std::regex("^STATUS=Last poll [0-9: -]{19}: accepted 2, refused 1, waiting 0$"))) << *line;
    // The state file beside the lock carries the same facts to dexwebctl, and the message
    // files apart from their recipients.
    const std::string json = status(home);
    EXPECT_TRUE(std::regex_search(json, std::regex(R"("pid":[0-9]+,"poll":\{"last_poll":[0-9]+,"seconds_since":[0-9]+,"interval":2,"accepted":2,"refused":1,"messages_accepted":1,"messages_refused":1,"waiting":0,"unreadable":0\})"))) << json;

    if (std::string(run_type) == "Application") module.signal(SIGTERM);
    else control("stop");  // the module stops itself
    EXPECT_TRUE(notify.receive_until("STOPPING=1"));
    EXPECT_EQ(module.wait(), 0);
    const std::string run = log().substr(log().rfind("Module Started"));
    EXPECT_TRUE(has(run, "  Module Stopped\r\n")) << run;
    control("start");
  }
}

TEST_F(Startup, VersionPrintsAndTouchesNothingAndAnyOtherOptionIsRefusedWithStatusTwo) {
  auto e = env();
  e["DEXWEB_UNIT_DIR"] = dir.dir();
  ChildProcess version({DEXWEB_BIN, "--version"}, e);
  EXPECT_EQ(version.wait(), 0);
  EXPECT_EQ(version.stdout_text(), "dexweb 1.0.0\n");
  EXPECT_FALSE(std::filesystem::exists(home + "log/VTXWeb.log"));
  // Only the option alone: anything else stays an invalid command line.
  std::string err;
  EXPECT_EQ(run_to_end({DEXWEB_BIN, "--version", "x"}, e, &err), 2);
  EXPECT_EQ(run_to_end({DEXWEB_BIN, "Install"}, e, &err), 2);
  EXPECT_TRUE(has(err, "Invalid commandline option... exiting"));
  EXPECT_TRUE(logged("  Invalid commandline option... exiting\r\n"));
}

// Each refusal and halt is one line on standard error, not only in the log, with the path
// and the system's reason.
TEST_F(Startup, RefusalsAndHaltsReachStandardError) {
  std::string err;
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, {{"VELOTRAX_REGISTRY", dir.file("nope.reg")}, {"PWD", dir.dir()}}, &err), 1);
  EXPECT_TRUE(has(err, "registry file not found: " + dir.file("nope.reg"))) << err;
  EXPECT_TRUE(has(err, "VTXWeb: Failed to open database\n")) << err;

  // Service mode without its database; with it but without NOTIFY_SOCKET it ends after its wait.
  set_registry("Run_Type", "NTService");
  set_registry("DB_Dir", "");
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 1);
  EXPECT_TRUE(has(err, "Unable to start. Database not found... exiting"));
  EXPECT_TRUE(logged("Unable to start. Database not found... exiting"));
  set_registry("DB_Dir", home + "data/");
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 1);
  EXPECT_TRUE(has(err, "NOTIFY_SOCKET"));

  // The database's path and the system's reason, and what in the registry explains it; the
  // retries before it are said as well.
  const std::string db_dir = home + "data";
  write_text(home + "velotrax.reg", registry_text("\"Log_Dir\"=\"" + home + "log/\"\r\n\"DB_Dir\"=\"" + db_dir +
                                                  "\"\r\n\"DB_Retries\"=\"1\"\r\n\"DB_Short_Timeout\"=\"1\"\r\n"));
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 1);
  EXPECT_TRUE(has(err, "VTXWeb: Warning - DbObject.OpenDb:")) << err;
  EXPECT_TRUE(has(err, "VTXWeb: Cannot open the database: unable to open database file: " + db_dir +
                           "velotrax.db (No such file or directory) (DB_Dir does not end with \"/\": "))
      << err;
  EXPECT_TRUE(logged("  Cannot open the database: unable to open database file: " + db_dir + "velotrax.db"));
  write_text(home + "velotrax.reg", registry);

  // A registry file the module's account may not read is refused, never read as empty.
  std::filesystem::permissions(dir.dir(), std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  std::filesystem::permissions(home, std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  std::filesystem::permissions(home + "velotrax.reg", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(run_to_end(as_account("nobody", "nogroup", {DEXWEB_BIN}), env(), &err), 1);
  EXPECT_TRUE(has(err, "Unable to start: the registry file cannot be read: Permission denied: open " + home + "velotrax.reg"))
      << err;

  // A database made from the schema alone has no settings row.
  sql("DELETE FROM [settings]");
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 1);
  EXPECT_TRUE(has(err, "VTXWeb: Module stopped. Database version conflict\nVTXWeb: The settings table has no row")) << err;

  sql("INSERT INTO [settings] ([record_id], [dbversion], [dexweb_poll]) VALUES (1, 1100, 1)");
  const auto module = start_module();
  ASSERT_TRUE(wait_logged("Module Started"));
  sql("DROP TABLE [control]");  // the next refresh fails for good: a halt
  EXPECT_EQ(module->wait(), 1);
  EXPECT_TRUE(has(module->stderr_text(), "VTXWeb: Program Halted. Database error: ")) << module->stderr_text();
}

// On a terminal the general log lines show as they happen.
TEST_F(Startup, OnATerminalTheLogLinesShow) {
  submit("bob");
  submit("noweb");
  // script gives the module a pseudo-terminal and copies what it shows to its output.
  ChildProcess terminal({"/usr/bin/script", "-q", "-e", "-c", DEXWEB_BIN, "/dev/null"}, env());
  ASSERT_TRUE(wait_until([&] { return terminal.stdout_text().find("Message rejected.") != std::string::npos; }))
      << terminal.stdout_text();
  control("stop");
  EXPECT_EQ(terminal.wait(), 0);
  const std::string shown = terminal.stdout_text();
  for (const char* line : {"  Module Started (v1.0.0)\r\n", "  Message accepted. Recipient: bob ",
                           "  Message rejected. Recipient: noweb ", "  Module Stopped\r\n"})
    EXPECT_NE(shown.find(line), std::string::npos) << line << "\n" << shown;
}

// dexweb install writes a unit whose paths survive systemd's quoting and which never holds
// the password given, and uninstall says when there is nothing to remove.
TEST(ServiceUnit, InstallEscapesPathsKeepsNoPasswordAndUninstallNeedsOne) {
  TempDir dir;
  const std::string units = dir.dir() + "units";
  std::filesystem::create_directories(units);
  // A registry path with a blank, a percent sign, a quote and a backslash.
  const std::string registry = dir.dir() + "a b%c\"d\\e.reg";
  const std::map<std::string, std::string> env{{"DEXWEB_UNIT_DIR", units}, {"VELOTRAX_REGISTRY", registry}};
  std::string err;
  ASSERT_EQ(run_to_end({DEXWEB_BIN, "install", "velotrax", "s3cret"}, env, &err), 0) << err;
  const std::string unit = read_text(units + "/VTXWeb.service");
  EXPECT_EQ(unit.find("s3cret"), std::string::npos) << unit;

  const std::string quoted = dir.dir() + "a b%%c\\\"d\\\\e.reg";
  EXPECT_NE(unit.find("\nEnvironment=\"VELOTRAX_REGISTRY=" + quoted + "\"\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("\nExecStart=\"" + std::string(DEXWEB_BIN) + "\"\n"), std::string::npos) << unit;
  // A condition's path is taken unquoted.
  EXPECT_NE(unit.find("\nConditionPathExists=" + dir.dir() + "a b%%c\"d\\e.reg\n"), std::string::npos) << unit;
  // The unit's other lines, and what systemd-analyze makes of them, are package_contents'
  // (packaging/check-package.sh): the package's unit is the one install writes.
  EXPECT_NE(unit.find("\nUser=velotrax\n"), std::string::npos) << unit;

  ASSERT_EQ(run_to_end({DEXWEB_BIN, "uninstall"}, env), 0);
  EXPECT_FALSE(std::filesystem::exists(units + "/VTXWeb.service"));
  EXPECT_EQ(run_to_end({DEXWEB_BIN, "uninstall"}, env, &err), 1);
  EXPECT_NE(err.find("No unit to remove"), std::string::npos) << err;
}

// ---- stops ----

// A stop asked for while a message is being worked ends the run between two files: every
// file is either worked whole (its rows stored and the file gone) or not started, so a
// restart pages nobody twice. A stop that comes while a message's work waits (retries of its
// notices or of its rows) abandons that message at once, and the next run finishes it.
class StopBetweenFiles : public ModuleProcess {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(GatewayHome::SetUp());
    std::string unknown;
    for (int n = 0; n < 300; ++n) unknown += " nobody" + std::to_string(n);
    for (int i = 0; i < kFiles; ++i)
      write_text(home + "web/m" + std::to_string(i) + ".msg",
                 "user=bob\r\nfrm=Pat\r\nsubject=bob" + unknown + "\r\nmsg=m" + std::to_string(i) + "\r\n");
  }

  static constexpr int kFiles = 20;
};

TEST_F(StopBetweenFiles, ASigtermInTheMiddleOfAMessageFinishesItAndStartsNoOther) {
  {
    ChildProcess module({DEXWEB_BIN}, env());
    ASSERT_TRUE(wait_until([&] { return !rows().empty(); })) << module.stderr_text();
    stop(module);
  }
  const auto before = rows();
  ASSERT_FALSE(before.empty());
  const int rows_of_a_message = before.begin()->second;  // one per accepted recipient
  const auto waiting = files_in(home + "web");
  for (int i = 0; i < kFiles; ++i) {
    const std::string m = "m" + std::to_string(i);
    const bool stored = before.contains(m);
    const bool left = std::find(waiting.begin(), waiting.end(), m + ".msg") != waiting.end();
    EXPECT_NE(stored, left) << m << " is half worked";
  }
  EXPECT_FALSE(waiting.empty()) << "the stop came too late to test anything";

  run_until_drained();
  const auto after = rows();
  EXPECT_EQ(after.size(), static_cast<std::size_t>(kFiles));
  for (const auto& [message, count] : after) EXPECT_EQ(count, rows_of_a_message) << message;
}

class StopInsideWaits : public ModuleProcess {
 protected:
  // SIGTERM once the module has been in the message's retries for a while; its exit status
  // and log, and the seconds from the signal to its end.
  int stop_during_retries(ChildProcess& module) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    module.signal(SIGTERM);
    const auto signalled = std::chrono::steady_clock::now();
    const int status = module.wait();
    seconds_to_end = std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
    RecordProperty("seconds_from_sigterm_to_exit", std::to_string(seconds_to_end));
    log = read_text(home + "log/VTXWeb.log");
    return status;
  }

  void expect_clean_stop(int status) {
    EXPECT_EQ(status, 0) << log;
    // Well within the stop allowance of a service manager; the retries alone take minutes.
    EXPECT_LT(seconds_to_end, 10);
    EXPECT_TRUE(has(log, "  Module Stopped\r\n")) << log;
    EXPECT_FALSE(has(log, "Program Halted")) << log;
    EXPECT_EQ(waiting_files(), 1u) << "the abandoned message must wait for the next run";
  }

  double seconds_to_end = 0;
  std::string log;
};

// The failure notice of a refused message cannot be written (the outgoing mail folder is a
// file): the stop comes in the notice's retries, after the message's record was committed.
// The next run makes the notice, once, and no second bad copy.
TEST_F(StopInsideWaits, ASigtermDuringTheNoticesRetriesStopsAtOnceAndTheNextRunSendsItOnce) {
  sql("UPDATE [settings] SET [dexmail_enabled] = 1, [domain] = 'example.org'");
  write_text(home + "prog/failurenotifylist.txt", "ops@example.org\r\n");
  write_text(home + "prog/failure.mtp", "Subject: Not sent\r\n\r\n%Message%\r\n");
  std::filesystem::remove_all(home + "data/MailOut");
  write_text(home + "data/MailOut", "not a folder");
  write_text(home + "web/refused.msg", "user=nosuch\r\nfrm=Pat\r\nmsg=refused\r\n");
  {
    ChildProcess module({DEXWEB_BIN}, env());
    ASSERT_TRUE(wait_until([&] { return files_in(home + "log/badmsg").size() == 1; })) << module.stderr_text();
    expect_clean_stop(stop_during_retries(module));
  }
  {
    auto conn = platform::SqliteConnection::open(home + "data/velotrax.db");
    auto state = conn.prepare("SELECT [dexweb_state] FROM [control]");
    ASSERT_TRUE(state.step());
    EXPECT_EQ(state.column_text(0), "0") << "the stop sequence marks the module stopped";
  }
  std::filesystem::remove(home + "data/MailOut");
  std::filesystem::create_directory(home + "data/MailOut");
  run_until_drained();
  EXPECT_EQ(files_in(home + "data/MailOut").size(), 1u);
  EXPECT_EQ(files_in(home + "log/badmsg").size(), 1u);
}

// Another program holds the database's write lock: the stop comes in the retries of the
// message's rows, which roll back. The next run stores them once.
TEST_F(StopInsideWaits, ASigtermWhileAnotherProgramHoldsTheDatabaseStopsAtOnceAndTheNextRunStoresTheRowsOnce) {
  write_text(home + "web/first.msg", "user=bob\r\nfrm=Pat\r\nmsg=first\r\n");
  ChildProcess module({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_until([&] { return rows().contains("first"); })) << module.stderr_text();
  std::optional<platform::SqliteConnection> holder(platform::SqliteConnection::open(home + "data/velotrax.db"));
  holder->exec("BEGIN EXCLUSIVE");
  write_text(home + "web/held.msg", "user=bob\r\nfrm=Pat\r\nmsg=held\r\n");
  ASSERT_TRUE(wait_until([&] { return files_in(home + "web").empty(); })) << module.stderr_text();
  expect_clean_stop(stop_during_retries(module));
  holder.reset();
  EXPECT_FALSE(rows().contains("held"));

  run_until_drained();
  EXPECT_EQ(rows()["held"], 1);
}

// ---- the database's files ----

// The embedded database's files handled as operators handle them, with the real module: a
// file deleted, a write-ahead log deleted, a backup renamed over the file, pages
// overwritten. No message goes into a file that no program reads any more or that is
// damaged, nothing of an old file stays at the path for the next one to read, and every
// message whose file is gone can be read afterwards.
class DatabaseFiles : public ModuleProcess {
 protected:
  // n messages of sales to bob (two rows each), named prefix-1.msg and on.
  void write_files(const std::string& prefix, int n) const {
    for (int i = 1; i <= n; ++i) write_message(prefix + "-" + std::to_string(i) + ".msg", "sales", prefix + "-" + std::to_string(i), "bob");
  }
  bool drained() const { return wait_until([&] { return waiting_files() == 0; }, 30); }
  std::string quick_check() const {
    auto conn = platform::SqliteConnection::open(db());
    auto st = conn.prepare("PRAGMA quick_check");
    return st.step() ? st.column_text(0) : "";
  }
  // The files beside the database whose names start with what.
  std::vector<std::string> beside(const std::string& what) const {
    std::vector<std::string> out;
    for (const std::string& name : files_in(home + "data"))
      if (name.starts_with(what)) out.push_back(name);
    return out;
  }
};

// The operator deletes velotrax.db under the running module, which halts; then copies a
// clean database back and starts it again. The old file's write-ahead log must not be
// there for the clean file to read.
TEST_F(DatabaseFiles, DeletedThenACleanCopyRestored) {
  fs::copy_file(db(), dir.file("clean.db"));
  write_files("a", 300);
  auto module = start_module();
  ASSERT_TRUE(drained()) << module->stderr_text();
  fs::remove(db());
  write_files("b", 2);
  EXPECT_EQ(module->wait(40), 1) << module->stderr_text();
  EXPECT_TRUE(logged("  Program Halted. Database error: 3024 unable to open database file: " + db() +
                     " is missing in Procedure: check_for_messages"));
  EXPECT_EQ(beside("velotrax.db"), std::vector<std::string>{});
  EXPECT_EQ(waiting_files(), 2u);

  fs::copy_file(dir.file("clean.db"), db());
  write_files("c", 50);
  run_until_drained();
  EXPECT_EQ(count_rows(), 2 * (2 + 50));
  EXPECT_EQ(quick_check(), "ok");
  EXPECT_FALSE(logged("The web file was worked already"));
}

// The operator deletes velotrax.db-wal under the running module; more messages come, then
// the module is killed. Nothing committed goes down with the deleted log, and other readers
// go on reading meanwhile.
TEST_F(DatabaseFiles, ADeletedWriteAheadLog) {
  write_files("a", 50);
  auto module = start_module();
  ASSERT_TRUE(drained()) << module->stderr_text();
  fs::remove(db() + "-wal");
  write_files("b", 50);
  ASSERT_TRUE(drained()) << module->stderr_text();
  EXPECT_TRUE(wait_until([&] { return count_rows() == 200; }));
  EXPECT_TRUE(wait_logged("  The write-ahead log of " + db() +
                          " was deleted or replaced under the open database: its pages go into the database file and the "
                          "database is opened again"));
  module->signal(SIGKILL);
  module->wait();
  EXPECT_EQ(count_rows(), 200);
  EXPECT_EQ(quick_check(), "ok");
}

// A backup is renamed over velotrax.db while the module runs and another program holds a
// read of the file: the old file's log, which a checkpoint cannot empty while that read
// lasts, goes aside, and the restored file holds its own rows and the new ones only.
TEST_F(DatabaseFiles, ABackupRestoredWhileAnotherProgramReads) {
  write_files("a", 25);
  auto module = start_module();
  ASSERT_TRUE(drained()) << module->stderr_text();
  auto reader = platform::SqliteConnection::open(db());
  reader.exec("VACUUM INTO '" + dir.file("backup.db") + "'");
  reader.exec("BEGIN; SELECT COUNT(*) FROM [messages];");
  write_files("b", 25);
  ASSERT_TRUE(drained()) << module->stderr_text();

  fs::copy_file(dir.file("backup.db"), db() + ".restore");
  fs::rename(db() + ".restore", db());
  write_files("c", 5);
  EXPECT_TRUE(drained()) << module->stderr_text();
  reader.exec("COMMIT");
  stop(*module);
  EXPECT_EQ(count_rows(" WHERE [message] LIKE 'a-%'"), 50);
  EXPECT_EQ(count_rows(" WHERE [message] LIKE 'b-%'"), 0);
  EXPECT_EQ(count_rows(" WHERE [message] LIKE 'c-%'"), 10);
  EXPECT_EQ(quick_check(), "ok");
  EXPECT_TRUE(logged("  The database file " + db() +
                     " is not the one opened before: the module goes on with the file now there"));
  EXPECT_EQ(beside("velotrax.db-wal.stale-").size(), 1u);
  EXPECT_TRUE(logged("  Moved " + db() + "-wal aside to " + home + "data/" + beside("velotrax.db-wal.stale-").at(0) +
                     ": it holds pages of a database file that is no longer at " + db()));
}

// Pages in the middle of velotrax.db overwritten while the module is stopped: it halts
// before it takes a file, and every file waits.
TEST_F(DatabaseFiles, OverwrittenPagesHaltTheModuleAtStart) {
  write_files("a", 300);
  auto module = start_module();
  ASSERT_TRUE(drained()) << module->stderr_text();
  stop(*module);
  {
    auto conn = platform::SqliteConnection::open(db());
    auto page = conn.prepare(
        "SELECT [pageno] FROM [dbstat] WHERE [name] = 'messages' AND [pagetype] = 'leaf' ORDER BY [pageno] LIMIT 1 "
        "OFFSET 10");
    ASSERT_TRUE(page.step());
    std::fstream file(db(), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp((page.column_int(0) - 1) * 4096);
    file << std::string(4096, 'U');
  }
  write_files("b", 20);
  const std::string before = log();
  module = start_module();
  EXPECT_EQ(module->wait(10), 1) << module->stderr_text();
  const std::string run = log().substr(before.size());
  EXPECT_NE(run.find("  Program Halted. Database error: 3049 database disk image is malformed"), std::string::npos) << run;
  EXPECT_EQ(run.find("Message accepted"), std::string::npos) << run;
  EXPECT_EQ(waiting_files(), 20u);
}

}  // namespace
}  // namespace dexweb::test
