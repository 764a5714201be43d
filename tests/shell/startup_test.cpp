// The module as an operator meets it: the real executable in a child process.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "data/test_databases.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
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

  void write_registry(const std::string& run_type, const std::string& db_dir) {
    write_text(home_.file("velotrax.reg"),
               registry_text("\"Log_Dir\"=\"" + home_.dir() + "\"\r\n\"DB_Dir\"=\"" + db_dir + "\"\r\n",
                             "\"Run_Type\"=\"" + run_type + "\"\r\n",
                             "\"VTM_Enabled\"=\"true\"\r\n\"VTM_Port\"=\"" + std::to_string(monitor_.port()) + "\"\r\n"));
  }

  std::map<std::string, std::string> env() {
    return {{"VELOTRAX_REGISTRY", home_.file("velotrax.reg")}, {"XDG_RUNTIME_DIR", home_.dir()},
            {"DEXWEB_UNIT_DIR", home_.dir()}};
  }

  std::string log() { return read_text(home_.file("VTXWeb.log")); }

  // Waits until the module's log holds text (the log is written once a second).
  bool wait_for_log(const std::string& text) {
    for (int i = 0; i < 100; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(100)))
      if (log().find(text) != std::string::npos) return true;
    return false;
  }

  bool wait_for_heartbeat() {
    for (int i = 0; i < 50; ++i)
      for (const std::string& d : monitor_.receive_all())
        if (d.find("|running|") != std::string::npos) return true;
    return false;
  }

  TempDir home_;
  UdpListener monitor_;
  std::unique_ptr<TestDatabase> db_;
};

TEST_F(Startup, InvalidOptionIsRefusedWithStatusTwo) {
  std::string err;
  EXPECT_EQ(run_to_end({DEXWEB_BIN, "Install"}, env(), &err), 2);
  EXPECT_NE(err.find("Invalid commandline option... exiting"), std::string::npos);
  EXPECT_NE(log().find("  Invalid commandline option... exiting\r\n"), std::string::npos);
}

TEST_F(Startup, ProgramModeStartsRefusesASecondInstanceAndStopsOnSigterm) {
  ChildProcess module({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_for_log("Module Started (v1.0.0)"));
  auto datagrams = monitor_.receive_all();
  ASSERT_FALSE(datagrams.empty());
  EXPECT_EQ(datagrams.front().substr(0, 7), "VTXWeb|");
  EXPECT_EQ(datagrams.front().substr(26), "|general|Module Started (v1.0.0)\r");

  std::string err;
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 1);
  EXPECT_NE(err.find("Another instance of VTXWeb is already running... exiting"), std::string::npos);

  module.signal(SIGTERM);
  EXPECT_EQ(module.wait(), 0);
  EXPECT_NE(log().find("  Module Stopped\r\n"), std::string::npos);
}

TEST_F(Startup, OneModulePerHomeWhateverTheCallersEnvironment) {
  ChildProcess module({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_for_log("Module Started (v1.0.0)"));
  TempDir elsewhere;
  std::filesystem::create_symlink(home_.file("velotrax.reg"), elsewhere.file("linked.reg"));
  std::string err;
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, {{"VELOTRAX_REGISTRY", elsewhere.file("linked.reg")}, {"XDG_RUNTIME_DIR", elsewhere.dir()}},
                       &err),
            1);
  EXPECT_NE(err.find("Another instance of VTXWeb is already running... exiting"), std::string::npos) << err;
  module.signal(SIGTERM);
  EXPECT_EQ(module.wait(), 0);

  // A lock folder the module cannot use is reported as that.
  write_text(db_->dir() + "lock-blocker", "");
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, {{"VELOTRAX_REGISTRY", home_.file("velotrax.reg")}, {"RUNTIME_DIRECTORY", db_->dir() + "lock-blocker/x"}},
                       &err),
            1);
  EXPECT_NE(err.find("cannot open the instance lock "), std::string::npos) << err;
}

TEST_F(Startup, SighupReadsTheBlacklistAgainAndNeverStops) {
  ChildProcess module({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_for_log("Module Started (v1.0.0)"));
  module.signal(SIGHUP);
  EXPECT_TRUE(wait_for_log("  Blacklist and monitor settings read again\r\n"));
  EXPECT_EQ(module.wait(0.5), -1);  // still running
  module.signal(SIGTERM);
  EXPECT_EQ(module.wait(), 0);
  EXPECT_NE(log().find("  Module Stopped\r\n"), std::string::npos);
}

TEST_F(Startup, ProgramModeObeysAPauseWrittenByAnotherProcess) {
  ChildProcess module({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_for_heartbeat());  // past the first tick: a pause now is a pause while running
  db_->exec("UPDATE [control] SET [dexweb_pause] = 1");
  EXPECT_EQ(module.wait(), 0);
  EXPECT_NE(log().find("  Running cleanup routine\r\n"), std::string::npos);
  EXPECT_NE(log().find("  Module Stopped\r\n"), std::string::npos);
}

TEST_F(Startup, ServiceModeWithoutDatabaseIsRefused) {
  write_registry("NTService", "");
  std::string err;
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 1);
  EXPECT_NE(err.find("Unable to start. Database not found... exiting"), std::string::npos);
  EXPECT_NE(log().find("Unable to start. Database not found... exiting"), std::string::npos);
}

TEST_F(Startup, ServiceModeWithoutServiceManagerEndsAfterItsWait) {
  write_registry("NTService", db_->dir());
  std::string err;
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 1);
  EXPECT_NE(err.find("NOTIFY_SOCKET"), std::string::npos);
}

TEST_F(Startup, ServiceModeTellsTheServiceManagerAndStops) {
  write_registry("NTService", db_->dir());
  NotifySocket notify(home_.file("notify"));
  auto e = env();
  e["NOTIFY_SOCKET"] = home_.file("notify");
  ChildProcess module({DEXWEB_BIN}, e);
  EXPECT_EQ(notify.receive(), "READY=1");
  ASSERT_TRUE(wait_for_log("Module Started"));
  db_->exec("UPDATE [control] SET [dexweb_run] = 0");  // the module stops itself
  EXPECT_EQ(notify.receive(), "STOPPING=1");
  EXPECT_EQ(module.wait(), 0);
  EXPECT_NE(log().find("  Module Stopped\r\n"), std::string::npos);
}

TEST_F(Startup, InstallWritesTheUnitAndUninstallRemovesIt) {
  std::string err;
  ASSERT_EQ(run_to_end({DEXWEB_BIN, "install", "someone", "secret"}, env(), &err), 0) << err;
  std::string unit = read_text(home_.file("VTXWeb.service"));
  EXPECT_NE(unit.find("Type=notify\n"), std::string::npos);
  EXPECT_NE(unit.find("ExecStart=\"" + std::string(DEXWEB_BIN) + "\"\n"), std::string::npos);
  EXPECT_NE(unit.find("Environment=VELOTRAX_REGISTRY=" + home_.file("velotrax.reg") + "\n"), std::string::npos);
  EXPECT_NE(unit.find("User=someone\n"), std::string::npos);
  EXPECT_EQ(unit.find("secret"), std::string::npos);
  EXPECT_EQ(run_to_end({DEXWEB_BIN, "uninstall"}, env()), 0);
  EXPECT_FALSE(std::filesystem::exists(home_.file("VTXWeb.service")));
}

}  // namespace
}  // namespace dexweb::test
