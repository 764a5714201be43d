// The module as a site runs it: under its own account, with the web form's writer under
// another. The module may not lease a file of another account, so it must tell a slow
// writer from a finished file by other means.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/sqlite_db.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "tools/ctl_runner.h"

namespace dexweb::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSetpriv = "/usr/bin/setpriv";

std::vector<std::string> as_user(const std::string& user, const std::string& group, std::vector<std::string> argv) {
  std::vector<std::string> full{kSetpriv, "--reuid=" + user, "--regid=" + group, "--clear-groups"};
  full.insert(full.end(), argv.begin(), argv.end());
  return full;
}

class SiteWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || !fs::exists(kSetpriv)) GTEST_SKIP() << "needs root and setpriv to run as other accounts";
    fs::permissions(dir.dir(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    ASSERT_EQ(run_ctl({"init", home}), 0);
    fs::create_directory(home + "run");
    ASSERT_EQ(run_to_end({"/bin/chown", "-R", "daemon:daemon", home}, {}), 0);
    fs::permissions(home + "web", fs::perms::all);  // the web server's account writes here
  }

  std::string stored_message() {
    auto conn = platform::SqliteConnection::open(home + "data/velotrax.db");
    auto st = conn.prepare("SELECT [message] FROM [messages]");
    return st.step() ? st.column_text(0) : std::string("<no row>");
  }

  TempDir dir;
  std::string home = dir.dir() + "home/";
};

TEST_F(SiteWriter, AFileThatAnotherAccountStillWritesIsNotReadBeforeItIsComplete) {
  ChildProcess module(as_user("daemon", "daemon", {DEXWEB_BIN}),
                      {{"VELOTRAX_REGISTRY", home + "velotrax.reg"}, {"XDG_RUNTIME_DIR", home + "run"}});
  ASSERT_TRUE(wait_until([&] { return read_text(home + "log/VTXWeb.log").find("Module Started") != std::string::npos; }))
      << module.stderr_text();
  // Five parts 0.7 s apart: longer than the module's poll interval, each pause shorter
  // than the quiet time that marks a finished file.
  const std::string script =
      "exec > '" + home + "web/slow.msg'; printf 'user=bob\\r\\nmsg=part 1\\r\\n'; "
      "for i in 2 3 4 5; do sleep 0.7; printf 'part %s\\r\\n' $i; done";
  ASSERT_EQ(run_to_end(as_user("nobody", "nogroup", {"/bin/sh", "-c", script}), {}), 0);
  ASSERT_TRUE(wait_until([&] { return files_in(home + "web").empty(); })) << module.stderr_text();
  EXPECT_EQ(stored_message(), "part 1\r\npart 2\r\npart 3\r\npart 4\r\npart 5");
  module.signal(SIGTERM);
  EXPECT_EQ(module.wait(), 0) << module.stderr_text();
}

}  // namespace
}  // namespace dexweb::test
