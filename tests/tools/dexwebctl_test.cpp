// dexwebctl makes a gateway home and submits messages into it exactly as the web form writes
// them, under the form's rules; the module's tests work such homes. init --system makes the
// production home under a root folder, handed to the service's account and shared with the
// web writers' group, and says what it made and what to run next; commands name a missing
// registry file and refuse a missing watched folder.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <tuple>

#include "support/ctl_runner.h"
#include "support/temp_dir.h"

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

  // The form's rules, each refusal named: a line break would start a field of its own.
  std::string err;
  for (const auto& [field, value, rule] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {"--to", "bob\r\nmsg=injected", "Recipients must be one line without control characters."},
           {"--message", "", "Message is required."},
           {"--message", "caf\xe9", "Message is not UTF-8 text."}}) {
    std::vector<std::string> args{"submit", "--home", home, "--user", "sales", field, value};
    if (field != "--message") args.insert(args.end(), {"--message", "hi"});
    EXPECT_EQ(run_ctl(args, nullptr, {}, &err), 1) << rule;
    EXPECT_NE(err.find(rule), std::string::npos) << err;
  }
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
      {{"start", "--home", home, "now"}, 2},
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

// The image's own accounts, which this computer does not have.
constexpr unsigned kVelotrax = 64990, kWwwData = 33;

// The production home made inside an image, with the image's accounts: the web server's
// account writes messages that the service's account reads, and nothing else can.
TEST(CtlSystemHome, InitSystemSharesTheWatchedFolderWithTheWebWritersUnderTheImagesAccounts) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand files to other accounts";
  TempDir dir;
  std::filesystem::permissions(dir.dir(), std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
  const std::string root = dir.dir() + "image";
  std::filesystem::create_directories(root + "/etc");
  write_text(root + "/etc/passwd", "root:x:0:0::/root:/bin/sh\nvelotrax:x:64990:64990::/var/lib/velotrax:/usr/sbin/nologin\n");
  write_text(root + "/etc/group", "root:x:0:\nvelotrax:x:64990:\n");
  std::string out, err;
  ASSERT_EQ(run_ctl({"init", "--system", "--root", root}, &out, {}, &err), 0) << err;
  const std::string registry = root + "/etc/velotrax/velotrax.reg";
  for (const char* value : {"\"Prog_Dir\"=\"/usr/lib/dexweb/\"", "\"DB_Dir\"=\"/var/lib/velotrax/\"",
                            "\"Log_Dir\"=\"/var/log/velotrax/\"", "\"Run_Type\"=\"NTService\""})
    EXPECT_NE(read_text(registry).find(value), std::string::npos) << value;

  // The group of the web writers is the image's, made there.
  const std::string groups = read_text(root + "/etc/group");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(groups, m, std::regex("\nvelotrax-web:x:([0-9]+):"))) << groups;
  const unsigned web_gid = static_cast<unsigned>(std::stoul(m[1]));
  EXPECT_EQ(owner(registry), (Owner{0, kVelotrax, 0640}));
  EXPECT_EQ(owner(root + "/etc/velotrax"), (Owner{0, kVelotrax, 0750}));
  EXPECT_EQ(owner(root + "/var/lib/velotrax"), (Owner{kVelotrax, kVelotrax, 0750}));
  EXPECT_EQ(owner(root + "/var/lib/velotrax/velotrax.db"), (Owner{kVelotrax, kVelotrax, 0640}));
  EXPECT_EQ(owner(root + "/var/lib/velotrax/MailOut"), (Owner{kVelotrax, kVelotrax, 0750}));
  EXPECT_EQ(owner(root + "/var/log/velotrax/badmsg"), (Owner{kVelotrax, kVelotrax, 0750}));
  EXPECT_EQ(owner(root + "/var/lib/velotrax/web"), (Owner{kVelotrax, web_gid, 02770}));
  EXPECT_EQ(owner(root + "/usr/lib/dexweb").uid, 0u);
  // What init printed names the production paths, not the root, and what to run next.
  for (const char* line : {"watched folder  /var/lib/velotrax/web/", "Owner: velotrax", "Accounts: none yet",
                           "usermod -a -G velotrax-web www-data", "systemctl enable --now VTXWeb.service dexweb-prune.timer",
                           "dexwebctl check --web-account www-data"})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;

  // The web server's account, once in the group, writes a message ...
  const std::string web = root + "/var/lib/velotrax/web/";
  ASSERT_EQ(run_to_end({"/usr/bin/setpriv", "--reuid=" + std::to_string(kWwwData), "--regid=" + std::to_string(kWwwData),
                        "--groups=" + std::to_string(web_gid), "/bin/sh", "-c",
                        "umask 077; exec \"$0\" submit --folder \"$1\" --user sales --message hi", DEXWEBCTL_BIN, web},
                       {}, &err),
            0)
      << err;
  ASSERT_EQ(files_in(web).size(), 1u);
  // ... which the module, under the service's account, reads (where the image is mounted,
  // the registry's folders are the image's). Run as a program: no service manager here.
  write_text(registry, std::regex_replace(read_text(registry), std::regex("\"NTService\""), "\"Application\""));
  ChildProcess module({"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                       "mount --bind \"$1/var\" /var && exec /usr/bin/setpriv --reuid=64990 --regid=64990 --clear-groups \"$0\"",
                       DEXWEB_BIN, root},
                      {{"VELOTRAX_REGISTRY", registry}});
  const std::string log = root + "/var/log/velotrax/VTXWeb.log";
  EXPECT_TRUE(wait_until([&] { return read_text(log).find("Message rejected. Recipient: sales ") != std::string::npos; }))
      << module.stderr_text() << read_text(log);
  EXPECT_TRUE(wait_until([&] { return files_in(web).empty(); }));
  module.signal(SIGTERM);
  EXPECT_EQ(module.wait(), 0) << module.stderr_text();
  EXPECT_EQ(read_text(log).find("Unable to read web file"), std::string::npos);

  // A site's registry is never replaced; without the account the files stay root's.
  EXPECT_EQ(run_ctl({"init", "--system", "--root", root}, nullptr, {}, &err), 1);
  EXPECT_NE(err.find("exists already"), std::string::npos) << err;
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
       {std::vector<std::string>{"status"}, {"submit", "--user", "sales", "--message", "hi"}, {"prune"}}) {
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
