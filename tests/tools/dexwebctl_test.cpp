// dexwebctl makes a gateway home and submits messages into it exactly as the web form writes
// them; the module's tests work such homes. init --system makes the production home under a
// root folder, handed to the service's account, and says what it made and what to run next;
// commands name a missing registry file and refuse a missing watched folder.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"
#include "tools/ctl_runner.h"

namespace dexweb::test {
namespace {

TEST(Dexwebctl, InitMakesAHomeAndSubmitWritesTheMessageFile) {
  TempDir dir;
  const std::string home = dir.dir() + "home/";
  std::string out;
  ASSERT_EQ(run_ctl({"init", home, "--port", "7411"}, &out), 0);
  EXPECT_NE(out.find("Accounts: sales bob amy joe staff adhoc noweb\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  export VELOTRAX_REGISTRY=" + home + "velotrax.reg\n"), std::string::npos) << out;
  EXPECT_NE(out.find("dexwebctl submit --home " + home), std::string::npos) << out;
  for (const char* folder : {"prog", "data", "data/MailOut", "log", "log/badmsg", "web"})
    EXPECT_TRUE(std::filesystem::is_directory(home + folder)) << folder;
  const std::string registry = read_text(home + "velotrax.reg");
  EXPECT_NE(registry.find("\"DB_Dir\"=\"" + home + "data/\""), std::string::npos);
  EXPECT_NE(registry.find("\"Run_Type\"=\"Application\""), std::string::npos);
  EXPECT_NE(registry.find("\"VTM_Port\"=\"7411\""), std::string::npos);
  EXPECT_EQ(run_ctl({"init", home}), 1);  // never over an existing home

  ASSERT_EQ(run_ctl({"submit", "--home", home, "--user", "Sales", "--from", "Pat", "--to", "bob amy", "--message",
                     "two\nlines"},
                    &out),
            0);
  const std::string written = out.substr(0, out.size() - 1);
  ASSERT_EQ(files_in(home + "web"), std::vector<std::string>{std::filesystem::path(written).filename()});
  EXPECT_TRUE(written.ends_with(".msg"));
  EXPECT_EQ(read_text(written), "user=Sales\r\nfrm=Pat\r\nsubject=bob amy\r\nmsg=two\r\nlines\r\n");
  ASSERT_EQ(run_ctl({"submit", "--folder", home + "web", "--user", "noweb", "--message", "hi"}), 0);
  EXPECT_EQ(files_in(home + "web").size(), 2u);
}

using DexwebctlHome = GatewayHome;

// Status 2 for a command line wrong in itself, 1 for one naming no home or an address that
// is no IPv4 one; the home here exists.
TEST_F(DexwebctlHome, EveryCommandRefusesABadCommandLine) {
  const std::string nowhere = dir.dir() + "nowhere/";
  const std::vector<std::pair<std::vector<std::string>, int>> cases{
      {{}, 2},
      {{"submit", "--folder", home + "web"}, 2},  // no --user
      {{"submit", "--user", "x", "--home", home, "--folder", home + "web"}, 2},
      {{"submit", "--home", nowhere, "--user", "x"}, 1},
      {{"init", nowhere, "--port", "0"}, 2},
      {{"init", nowhere, "--root", nowhere}, 2},  // --root goes with --system
      {{"status", "--home", home, "extra"}, 2},
      {{"status", "--json", "--json"}, 2},
      {{"stop", "--home", home, "now"}, 2},
      {{"prune", "--home", home, "--days", "0"}, 2},
      {{"serve", "--home", home, "--listen", "127.0.0.1"}, 2},
      {{"serve", "--home", home, "--listen", "127.0.0.1:65536"}, 2},
      {{"serve", "--home", nowhere}, 1},
      {{"monitor", "--port", "65536"}, 2},
      {{"monitor", "--count", "0"}, 2},
      {{"monitor", "--colour", "pink"}, 2},
      {{"monitor", "extra"}, 2},
      {{"monitor", "--port", "0", "--address", "localhost"}, 1},
  };
  for (const auto& [args, status] : cases) EXPECT_EQ(run_ctl(args), status) << ::testing::PrintToString(args);
}

struct Owner {
  unsigned uid, gid, mode;
  bool operator==(const Owner&) const = default;
};

Owner owner(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return {st.st_uid, st.st_gid, st.st_mode & 07777u};
}

constexpr unsigned kNobody = 65534, kNogroup = 65534;

TEST(CtlSystemHome, InitSystemMakesTheProductionHomeUnderTheRootOwnedByTheAccount) {
  TempDir dir;
  const std::string root = dir.dir() + "image";
  std::string out, err;
  ASSERT_EQ(run_ctl({"init", "--system", "--root", root, "--account", "nobody"}, &out, {}, &err), 0) << err;

  const std::string registry = read_text(root + "/etc/velotrax/velotrax.reg");
  for (const char* value : {"\"Prog_Dir\"=\"/usr/lib/dexweb/\"", "\"DB_Dir\"=\"/var/lib/velotrax/\"",
                            "\"Log_Dir\"=\"/var/log/velotrax/\"", "\"Run_Type\"=\"NTService\""})
    EXPECT_NE(registry.find(value), std::string::npos) << value;
  for (const char* folder : {"/usr/lib/dexweb", "/var/lib/velotrax/web", "/var/lib/velotrax/MailOut",
                             "/var/log/velotrax/badmsg"})
    EXPECT_TRUE(std::filesystem::is_directory(root + folder)) << folder;

  EXPECT_EQ(owner(root + "/var/lib/velotrax"), (Owner{kNobody, kNogroup, 0750}));
  EXPECT_EQ(owner(root + "/var/lib/velotrax/web"), (Owner{kNobody, kNogroup, 0750}));
  EXPECT_EQ(owner(root + "/var/lib/velotrax/velotrax.db"), (Owner{kNobody, kNogroup, 0640}));
  EXPECT_EQ(owner(root + "/var/log/velotrax/badmsg"), (Owner{kNobody, kNogroup, 0750}));
  EXPECT_EQ(owner(root + "/etc/velotrax"), (Owner{0, kNogroup, 0750}));
  EXPECT_EQ(owner(root + "/etc/velotrax/velotrax.reg"), (Owner{0, kNogroup, 0640}));
  EXPECT_EQ(owner(root + "/usr/lib/dexweb").uid, 0u);

  // What init printed names the production paths, not the root.
  EXPECT_NE(out.find("watched folder  /var/lib/velotrax/web/"), std::string::npos) << out;
  EXPECT_NE(out.find("Owner: nobody"), std::string::npos) << out;
  EXPECT_NE(out.find("Accounts: none yet"), std::string::npos) << out;
  EXPECT_NE(out.find("systemctl enable --now VTXWeb.service dexweb-prune.timer"), std::string::npos) << out;

  // A site's registry is never replaced.
  EXPECT_EQ(run_ctl({"init", "--system", "--root", root, "--account", "nobody"}, nullptr, {}, &err), 1);
  EXPECT_NE(err.find("exists already"), std::string::npos) << err;

  // The root may come from the environment; without the account the files stay root's.
  const std::string other = dir.dir() + "other";
  ASSERT_EQ(run_ctl({"init", "--system", "--account", "no-such-account-dexweb"}, &out, {{"DEXWEB_SYSTEM_ROOT", other}}, &err),
            0)
      << err;
  EXPECT_EQ(owner(other + "/var/lib/velotrax").uid, 0u);
  EXPECT_NE(out.find("does not exist"), std::string::npos) << out;
}

TEST(CtlSystemHome, AMissingRegistryFileIsNamedAndAMissingWatchedFolderRefused) {
  TempDir dir;
  const std::string missing = dir.dir() + "nowhere/velotrax.reg";
  std::string err;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"status"}, {"submit", "--user", "sales"}, {"prune"}}) {
    EXPECT_EQ(run_ctl(args, nullptr, {{"VELOTRAX_REGISTRY", missing}}, &err), 1) << args[0];
    EXPECT_NE(err.find("registry file not found: " + missing), std::string::npos) << args[0] << ": " << err;
  }

  const std::string folder = dir.dir() + "typo/";
  EXPECT_EQ(run_ctl({"submit", "--folder", folder, "--user", "sales", "--message", "hi"}, nullptr, {}, &err), 1);
  EXPECT_NE(err.find("watched folder not found: " + folder), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(folder));
}

}  // namespace
}  // namespace dexweb::test
