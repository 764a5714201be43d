// The module as an operator meets it: the real executable in a child process.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <thread>

#include "data/test_databases.h"
#include "intake/intake_harness.h"
#include "support/ctl_runner.h"
#include "support/udp_listener.h"

namespace dexweb::test {
namespace {

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

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = make_sqlite_database();
    db_->exec("INSERT INTO [settings] ([record_id], [dbversion], [dexweb_poll]) VALUES (1, 1100, 60)");
    db_->exec("INSERT INTO [control] ([record_id], [dexweb_run]) VALUES (1, 1)");
    write_registry("Application", db_->dir());
  }

  void write_registry(const std::string& run_type, const std::string& db_dir, int monitor_port = 0) {
    write_text(home_.file("velotrax.reg"),
               registry_text("\"Log_Dir\"=\"" + home_.dir() + "\"\r\n\"DB_Dir\"=\"" + db_dir + "\"\r\n",
                             "\"Run_Type\"=\"" + run_type + "\"\r\n",
                             "\"VTM_Enabled\"=\"true\"\r\n\"VTM_Port\"=\"" +
                                 std::to_string(monitor_port ? monitor_port : monitor_.port()) + "\"\r\n"));
  }

  std::map<std::string, std::string> env() {
    return {{"VELOTRAX_REGISTRY", home_.file("velotrax.reg")}, {"DEXWEB_UNIT_DIR", home_.dir()}};
  }

  std::string log() { return read_text(home_.file("VTXWeb.log")); }

  // Waits until the module's log holds text (the log is written once a second).
  bool wait_for_log(const std::string& text) { return wait_until([&] { return log().find(text) != std::string::npos; }, 10); }

  bool wait_for_heartbeat() { return wait_for_heartbeat(monitor_); }
  static bool wait_for_heartbeat(UdpListener& monitor) {
    for (int i = 0; i < 50; ++i)
      for (const std::string& d : monitor.receive_all())
        if (d.find("|running|") != std::string::npos) return true;
    return false;
  }

  TempDir home_;
  UdpListener monitor_;
  std::unique_ptr<TestDatabase> db_;
};

TEST_F(Startup, ProgramModeStartsRefusesASecondInstanceOfItsHomeAndStopsOnSigterm) {
  ChildProcess module({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_for_log("Module Started (v1.0.0)"));
  auto datagrams = monitor_.receive_all();
  ASSERT_FALSE(datagrams.empty());
  EXPECT_EQ(datagrams.front().substr(0, 7), "VTXWeb|");
  EXPECT_EQ(datagrams.front().substr(26), "|general|Module Started (v1.0.0)\r");

  // One module per data folder, whatever the caller's environment names it by: a link to
  // the registry, a copy of it, the service manager's runtime folder.
  TempDir elsewhere;
  std::filesystem::create_symlink(home_.file("velotrax.reg"), elsewhere.file("linked.reg"));
  std::filesystem::copy_file(home_.file("velotrax.reg"), elsewhere.file("copy.reg"));
  std::string err;
  for (const auto& second : {env(),
                             std::map<std::string, std::string>{{"VELOTRAX_REGISTRY", elsewhere.file("linked.reg")}},
                             std::map<std::string, std::string>{{"VELOTRAX_REGISTRY", elsewhere.file("copy.reg")},
                                                                {"RUNTIME_DIRECTORY", elsewhere.dir()}}}) {
    EXPECT_EQ(run_to_end({DEXWEB_BIN}, second, &err), 1);
    EXPECT_NE(err.find("Another instance of VTXWeb is already running... exiting"), std::string::npos) << err;
  }

  module.signal(SIGTERM);
  EXPECT_EQ(module.wait(), 0);
  EXPECT_NE(log().find("  Module Stopped\r\n"), std::string::npos);

  // A lock folder the module cannot use is reported as that.
  std::filesystem::remove_all(db_->dir() + "lock");
  write_text(db_->dir() + "lock", "");
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 1);
  EXPECT_NE(err.find("cannot open the instance lock "), std::string::npos) << err;
}

// The registry is read at start and at SIGHUP only; the data folder stays the run's.
TEST_F(Startup, SighupReadsTheRegistryAndTheBlacklistAgainAndNeverStops) {
  ChildProcess module({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_for_log("Module Started (v1.0.0)"));
  UdpListener moved;
  TempDir other_data;
  write_registry("Application", other_data.dir(), moved.port());
  monitor_.receive_all();
  EXPECT_TRUE(wait_for_heartbeat());  // the file changed, but nobody asked to read it
  module.signal(SIGHUP);
  EXPECT_TRUE(wait_for_log("  Blacklist and monitor settings read again\r\n"));
  EXPECT_TRUE(wait_for_heartbeat(moved));
  EXPECT_EQ(module.wait(0.5), -1);  // still running
  module.signal(SIGTERM);
  EXPECT_EQ(module.wait(), 0);
  EXPECT_NE(log().find("  Module Stopped\r\n"), std::string::npos);
}

// The control row stops the module, which says why and what undoes it; a control table
// without a row does not let it run.
TEST_F(Startup, ProgramModeObeysTheControlRowAndSaysWhy) {
  ChildProcess module({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_for_heartbeat());  // past the first tick: a pause now is a pause while running
  db_->exec("UPDATE [control] SET [dexweb_pause] = 1");
  EXPECT_EQ(module.wait(), 0);
  EXPECT_NE(log().find("  Running cleanup routine\r\n"), std::string::npos);
  EXPECT_NE(log().find("  Module Stopped\r\n"), std::string::npos);
  EXPECT_NE(module.stderr_text().find("VTXWeb: dexweb_pause is true in the control row: stopping; run `dexwebctl resume`\n"),
            std::string::npos)
      << module.stderr_text();

  db_->exec("DELETE FROM [control]");
  std::string err;
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err, 10), 0);
  EXPECT_NE(err.find("VTXWeb: The control table has no row, so dexweb_run reads false: stopping;"), std::string::npos) << err;
}

TEST_F(Startup, ServiceModeTellsTheServiceManagerAndStops) {
  write_registry("NTService", db_->dir());
  NotifySocket notify(home_.file("notify"));
  auto e = env();
  e["NOTIFY_SOCKET"] = home_.file("notify");
  ChildProcess module({DEXWEB_BIN}, e);
  EXPECT_TRUE(notify.receive().starts_with("READY=1\nSTATUS="));
  ASSERT_TRUE(wait_for_log("Module Started"));
  db_->exec("UPDATE [control] SET [dexweb_run] = 0");  // the module stops itself
  EXPECT_TRUE(notify.receive_until("STOPPING=1"));
  EXPECT_EQ(module.wait(), 0);
  EXPECT_NE(log().find("  Module Stopped\r\n"), std::string::npos);
}

TEST_F(Startup, VersionPrintsAndTouchesNothingAndAnyOtherOptionIsRefusedWithStatusTwo) {
  ChildProcess version({DEXWEB_BIN, "--version"}, env());
  EXPECT_EQ(version.wait(), 0);
  EXPECT_EQ(version.stdout_text(), "dexweb 1.0.0\n");
  EXPECT_FALSE(std::filesystem::exists(home_.file("VTXWeb.log")));
  // Only the option alone: anything else stays an invalid command line.
  std::string err;
  EXPECT_EQ(run_to_end({DEXWEB_BIN, "--version", "x"}, env(), &err), 2);
  EXPECT_EQ(run_to_end({DEXWEB_BIN, "Install"}, env(), &err), 2);
  EXPECT_NE(err.find("Invalid commandline option... exiting"), std::string::npos);
  EXPECT_NE(log().find("  Invalid commandline option... exiting\r\n"), std::string::npos);
}

// Each refusal and halt is one line on standard error, not only in the log, with the path
// and the system's reason.
TEST_F(Startup, RefusalsAndHaltsReachStandardError) {
  std::string err;
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, {{"VELOTRAX_REGISTRY", home_.file("nope.reg")}, {"PWD", home_.dir()}}, &err), 1);
  EXPECT_NE(err.find("registry file not found: " + home_.file("nope.reg")), std::string::npos) << err;
  EXPECT_NE(err.find("VTXWeb: Failed to open database\n"), std::string::npos) << err;

  // Service mode without its database; with it but without NOTIFY_SOCKET it ends after its wait.
  write_registry("NTService", "");
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 1);
  EXPECT_NE(err.find("Unable to start. Database not found... exiting"), std::string::npos);
  EXPECT_NE(log().find("Unable to start. Database not found... exiting"), std::string::npos);
  write_registry("NTService", db_->dir());
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 1);
  EXPECT_NE(err.find("NOTIFY_SOCKET"), std::string::npos);
  write_registry("Application", db_->dir());

  // The database's path and the system's reason, and what in the registry explains it; the
  // retries before it are said as well.
  std::string db_dir = db_->dir();
  db_dir.pop_back();
  write_text(home_.file("velotrax.reg"),
             registry_text("\"Log_Dir\"=\"" + home_.dir() + "\"\r\n\"DB_Dir\"=\"" + db_dir +
                           "\"\r\n\"DB_Retries\"=\"1\"\r\n\"DB_Short_Timeout\"=\"1\"\r\n"));
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 1);
  EXPECT_NE(err.find("VTXWeb: Warning - DbObject.OpenDb:"), std::string::npos) << err;
  EXPECT_NE(err.find("VTXWeb: Cannot open the database: unable to open database file: " + db_dir +
                     "velotrax.db (No such file or directory) (DB_Dir does not end with \"/\": "),
            std::string::npos)
      << err;
  EXPECT_NE(log().find("  Cannot open the database: unable to open database file: " + db_dir + "velotrax.db"), std::string::npos);
  write_registry("Application", db_->dir());

  // A registry file the module's account may not read is refused, never read as empty.
  std::filesystem::permissions(home_.dir(), std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  std::filesystem::permissions(home_.file("velotrax.reg"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(run_to_end(as_account("nobody", "nogroup", {DEXWEB_BIN}), env(), &err), 1);
  EXPECT_NE(err.find("Unable to start: the registry file cannot be read: Permission denied: open " + home_.file("velotrax.reg")),
            std::string::npos)
      << err;

  // A database made from the schema alone has no settings row.
  db_->exec("DELETE FROM [settings]");
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 1);
  EXPECT_NE(err.find("VTXWeb: Module stopped. Database version conflict\nVTXWeb: The settings table has no row"),
            std::string::npos)
      << err;

  db_->exec("INSERT INTO [settings] ([record_id], [dbversion], [dexweb_poll]) VALUES (1, 1100, 1)");
  ChildProcess module({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_for_log("Module Started"));
  db_->exec("DROP TABLE [control]");  // the next refresh fails for good: a halt
  EXPECT_EQ(module.wait(), 1);
  EXPECT_NE(module.stderr_text().find("VTXWeb: Program Halted. Database error: "), std::string::npos) << module.stderr_text();
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


// A home as dexwebctl makes it, with accounts, so that messages are accepted and refused.
class StartupHome : public GatewayHome {
 protected:
  void control(const std::string& command) { ASSERT_EQ(run_ctl({command, "--home", home}), 0); }
};

// Run_Type "Application" under systemd (Type=notify): ready, fed after each poll, a status
// line with the counts, and the stop.
TEST_F(StartupHome, AnApplicationUnderAServiceManagerReportsReadyPollsAndStop) {
  NotifySocket notify(dir.file("notify"));
  auto e = env();
  e["NOTIFY_SOCKET"] = dir.file("notify");
  e["WATCHDOG_USEC"] = "60000000";
  control("pause");  // paused at start: no poll runs, so the watchdog must not be fed
  ChildProcess module({DEXWEB_BIN}, e);
  const auto ready = notify.receive_until("READY=1");
  ASSERT_TRUE(ready) << module.stderr_text();
  EXPECT_NE(ready->find("\nWATCHDOG_USEC=330000000"), std::string::npos) << *ready;
  EXPECT_EQ(notify.receive(3000), "<nothing>");

  submit("bob");
  submit("noweb");
  control("resume");
  const auto first = notify.receive_until("WATCHDOG_USEC=");
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, "WATCHDOG_USEC=60000000");
  EXPECT_TRUE(notify.receive_until("WATCHDOG=1"));
  std::optional<std::string> line;
  ASSERT_TRUE(wait_until([&] { return (line = notify.receive_until("STATUS=")) && line->find("waiting 0") != std::string::npos; }));
  // bob's message gives bob's row and one for the recipient bob; noweb's is refused.
  EXPECT_TRUE(std::regex_search(*line, std::regex("^STATUS=Last poll [0-9: -]{19}: accepted 2, refused 1, waiting 0$"))) << *line;

  // The state file beside the lock carries the same facts to dexwebctl, and the message
  // files apart from their recipients.
  const std::string json = status(home);
  EXPECT_TRUE(std::regex_search(json, std::regex(R"("pid":[0-9]+,"poll":\{"last_poll":[0-9]+,"seconds_since":[0-9]+,"interval":2,"accepted":2,"refused":1,"messages_accepted":1,"messages_refused":1,"waiting":0,"unreadable":0\})"))) << json;

  module.signal(SIGTERM);
  EXPECT_TRUE(notify.receive_until("STOPPING=1"));
  EXPECT_EQ(module.wait(), 0);
}

// On a terminal the general log lines show as they happen; elsewhere a normal run says
// nothing on standard error.
TEST_F(StartupHome, OnATerminalTheLogLinesShow) {
  submit("bob");
  ChildProcess quiet({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_until([&] { return files_in(home + "web").empty(); }));
  quiet.signal(SIGTERM);
  EXPECT_EQ(quiet.wait(), 0);
  EXPECT_EQ(quiet.stderr_text(), "");

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

}  // namespace
}  // namespace dexweb::test
