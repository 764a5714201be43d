// dexwebctl makes a gateway home and submits messages into it exactly as the web form writes
// them, under the form's rules; the module's tests work such homes. init --system makes the
// production home under a root folder, handed to the service's account and shared with the
// web writers' group, and says what it made and what to run next; commands name a missing
// registry file and refuse a missing watched folder. monitor shows real datagrams as they
// arrive with the tally of good and bad; prune removes the bad copies older than the
// retention and the half-written files a killed module left, and nothing else.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>

#include "platform/sockets.h"
#include "support/ctl_runner.h"
#include "support/temp_dir.h"
#include "support/udp_listener.h"

namespace dexweb::test {
namespace {

namespace fs = std::filesystem;

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

  // The form's rules apply (its web tests name each refusal): a line break would start a
  // field of its own.
  std::string err;
  const std::vector<std::string> injected{"submit", "--home", home, "--user", "sales", "--to", "bob\r\nmsg=injected", "--message", "hi"};
  EXPECT_EQ(run_ctl(injected, nullptr, {}, &err), 1);
  EXPECT_NE(err.find("Recipients must be one line without control characters."), std::string::npos) << err;
  EXPECT_EQ(files_in(home + "web").size(), 2u);
}

using DexwebctlHome = GatewayHome;

// Status 2 for a command line wrong in itself; 1, naming the fault, for one naming no home,
// a missing registry file or watched folder, or an address that is no IPv4 one. The home
// here exists; $VELOTRAX_REGISTRY names a missing file.
TEST_F(DexwebctlHome, EveryCommandRefusesABadCommandLineAndNamesWhatIsMissing) {
  const std::string nowhere = dir.dir() + "nowhere/", missing = nowhere + "velotrax.reg", typo = dir.dir() + "typo/";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says = "";  // in what it prints
  };
  const std::vector<Case> cases{
      {{}, 2},
      {{"submit", "--folder", home + "web"}, 2},  // no --user
      {{"submit", "--user", "x", "--home", home, "--folder", home + "web"}, 2},
      {{"submit", "--home", nowhere, "--user", "x"}, 1, "registry file not found: " + missing},
      {{"init", nowhere, "--port", "0"}, 2},
      {{"init", nowhere, "--root", nowhere}, 2},  // --root goes with --system
      {{"status", "--home", home, "extra"}, 2},
      {{"status", "--json", "--json"}, 2},
      {{"stop", "--home", home, "now"}, 2},
      {{"start", "--home", home, "now"}, 2},
      {{"prune", "--home", home, "--days", "0"}, 2},
      {{"serve", "--home", home, "--listen", "127.0.0.1"}, 2},
      {{"serve", "--home", home, "--listen", "127.0.0.1:65536"}, 2},
      {{"serve", "--home", nowhere}, 1, "registry file not found: " + missing},
      {{"monitor", "--port", "65536"}, 2},
      {{"monitor", "--count", "0"}, 2},
      {{"monitor", "--colour", "pink"}, 2},
      {{"monitor", "extra"}, 2},
      {{"monitor", "--port", "0", "--address", "localhost"}, 1, "Not a listening address: localhost:0"},
      {{"status"}, 1, "registry file not found: " + missing},
      {{"submit", "--user", "sales", "--message", "hi"}, 1, "registry file not found: " + missing},
      {{"prune"}, 1, "registry file not found: " + missing},
      {{"submit", "--folder", typo, "--user", "sales", "--message", "hi"}, 1, "watched folder not found: " + typo},
  };
  std::string err;
  for (const Case& c : cases) {
    EXPECT_EQ(run_ctl(c.args, nullptr, {{"VELOTRAX_REGISTRY", missing}}, &err), c.status) << ::testing::PrintToString(c.args);
    EXPECT_TRUE(has(err, c.says)) << c.says << "\n" << err;
  }
  EXPECT_FALSE(std::filesystem::exists(typo));
  // A home without its database: status fails and makes none.
  std::filesystem::remove(db());
  EXPECT_EQ(run_ctl({"status", "--home", home}), 1);
  EXPECT_FALSE(std::filesystem::exists(db()));
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

// ---- monitor ----

TEST(CtlMonitor, ShowsEachDatagramWithTheTallyOnTheRegistrysPortColouredWhenAsked) {
  std::unique_ptr<ChildProcess> monitor;
  // Starts the monitor and returns the port it announced.
  const auto start = [&](const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) {
    monitor = std::make_unique<ChildProcess>(ctl_argv(args), env);
    return announced_port([&] { return monitor->stderr_text(); }, "monitor datagrams on 127\\.0\\.0\\.1");
  };
  const auto send = [](int to, const std::string& datagram) { EXPECT_TRUE(platform::UdpSender().send("127.0.0.1", to, datagram)); };
  int port = start({"monitor", "--port", "0", "--count", "5", "--colour", "never"});
  ASSERT_GT(port, 0);
  send(port, "VTXWeb|2026-03-05 14:20:00|running|DexWeb started\r");
  send(port, "VTXWeb|2026-03-05 14:20:01|good|Accepted a|b\r");
  send(port, "Velotrax|2026-03-05 14:20:01|good|Accepted copy\r");  // the message log's copy: not counted
  send(port, "VTXWeb|2026-03-05 14:20:02|BAD|Refused\r");
  send(port, "no fields\x1b[2J\r\n");
  ASSERT_EQ(monitor->wait(), 0);
  EXPECT_EQ(monitor->stdout_text(),
            "2026-03-05 14:20:00  running  DexWeb started\n"
            "2026-03-05 14:20:01  good     Accepted a|b  (recipients: good 1, bad 0)\n"
            "2026-03-05 14:20:01  good     [Velotrax] Accepted copy\n"
            "2026-03-05 14:20:02  bad      Refused  (recipients: good 1, bad 1)\n"
            "                     ?        no fields?[2J??\n"
            "recipients: good 1, bad 1\n");

  // Without --port, on the registry's monitor port; coloured when asked.
  TempDir dir;
  {
    UdpListener probe;  // a port that was free a moment ago
    port = probe.port();
  }
  write_text(dir.file("velotrax.reg"), registry_text("", "", "\"VTM_Port\"=\"" + std::to_string(port) + "\"\r\n"));
  EXPECT_EQ(start({"monitor", "--count", "2", "--colour", "always"}, {{"VELOTRAX_REGISTRY", dir.file("velotrax.reg")}}), port);
  send(port, "VTXWeb|2026-03-05 14:20:01|good|ok\r");
  send(port, "VTXWeb|2026-03-05 14:20:02|general|plain\r");
  ASSERT_EQ(monitor->wait(), 0);
  EXPECT_EQ(monitor->stdout_text(),
            "2026-03-05 14:20:01  \x1b[32mgood   \x1b[0m  ok  (recipients: good 1, bad 0)\n"
            "2026-03-05 14:20:02  general  plain\n"
            "recipients: good 1, bad 0\n");
}

// ---- prune ----

class CtlPrune : public GatewayHome {
 protected:
  // A file last modified `days` days ago.
  void aged(const std::string& path, double days) {
    write_text(path, "user=x\r\nmsg=y\r\n");
    fs::last_write_time(path, fs::file_time_type::clock::now() -
                                  std::chrono::duration_cast<fs::file_time_type::duration>(
                                      std::chrono::duration<double, std::ratio<86400>>(days)));
  }

  std::string bad(const std::string& name) const { return home + "log/badmsg/" + name; }
};

// The retention is --days, else the registry's Bad_Retention_Days, else 30 days.
TEST_F(CtlPrune, RemovesOnlyBadCopiesOlderThanTheRetention) {
  aged(bad("old.web"), 45);
  aged(bad("older.WEB"), 90);
  aged(bad("twelve.web"), 12);
  aged(bad("eight.web"), 8);
  aged(bad("notes.txt"), 400);                        // not a bad copy
  aged(home + "data/MailOut/ancient.msg", 400);       // mail files are never pruned
  aged(home + "web/waiting.msg", 400);                // nor waiting messages
  aged(dir.dir() + "elsewhere.web", 400);
  fs::create_symlink(dir.dir() + "elsewhere.web", bad("link.web"));  // a link is left alone

  std::string out;
  ASSERT_EQ(run_ctl({"prune", "--home", home, "--dry-run"}, &out), 0);
  EXPECT_EQ(out, "would remove " + bad("older.WEB") + "\nwould remove " + bad("old.web") +
                     "\n2 bad copies older than 30 days to remove in " + home +
                     "log/badmsg/\n0 half-written files older than an hour to remove\n");
  EXPECT_TRUE(fs::exists(bad("old.web")));

  ASSERT_EQ(run_ctl({"prune", "--home", home}, &out), 0);
  EXPECT_FALSE(fs::exists(bad("old.web")));
  EXPECT_FALSE(fs::exists(bad("older.WEB")));
  for (const std::string& kept : {bad("twelve.web"), bad("eight.web"), bad("notes.txt"), home + "data/MailOut/ancient.msg",
                                  home + "web/waiting.msg", dir.dir() + "elsewhere.web"})
    EXPECT_TRUE(fs::exists(kept)) << kept;
  EXPECT_TRUE(fs::is_symlink(bad("link.web")));

  write_text(home + "velotrax.reg", read_text(home + "velotrax.reg") + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax]\n"
                                                                      "\"Bad_Retention_Days\"=dword:0000000a\n");  // 10 days
  ASSERT_EQ(run_ctl({"prune"}, &out, env()), 0);
  EXPECT_NE(out.find("older than 10 days removed"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(bad("twelve.web")));
  EXPECT_TRUE(fs::exists(bad("eight.web")));
  ASSERT_EQ(run_ctl({"prune", "--home", home, "--days", "7"}, &out), 0);
  EXPECT_FALSE(fs::exists(bad("eight.web")));
}

// A module killed in the middle of a mail file or a bad copy leaves it under its temporary
// name: the module removes those of earlier runs at start, prune those an hour old.
TEST_F(CtlPrune, HalfWrittenFilesOfTheModuleGoAtStartAndAfterAnHour) {
  const double hours = 1.0 / 24;
  const std::string mail = home + "data/MailOut/";
  const std::vector<std::string> half_written{mail + "VTXWeb2026120419141942.tmp", mail + "VTXWeb2026120419141943.tmp.tmp4242",
                                              bad("VTXWeb2026120419141944.web.partAb3dE9")};
  const std::vector<std::string> kept{mail + "VTXWeb2026120419141945.msg", mail + "DexMail0001.tmp",
                                      mail + "VTXWeb2026120419141946.tmpx", bad("VTXWeb2026120419141947.web"),
                                      bad("VTXWeb2026120419141948.web.part12")};
  for (const std::string& path : half_written) aged(path, 2 * hours);
  for (const std::string& path : kept) aged(path, 2 * hours);
  aged(mail + "VTXWeb2026120419141949.tmp", 0.5 * hours);  // perhaps still being written

  std::string out;
  ASSERT_EQ(run_ctl({"prune", "--home", home}, &out), 0);
  EXPECT_NE(out.find("\n3 half-written files older than an hour removed\n"), std::string::npos) << out;
  for (const std::string& path : half_written) EXPECT_FALSE(fs::exists(path)) << path;
  for (const std::string& path : kept) EXPECT_TRUE(fs::exists(path)) << path;
  EXPECT_TRUE(fs::exists(mail + "VTXWeb2026120419141949.tmp"));

  // The module removes every one of them at start, whatever its age.
  for (const std::string& path : half_written) aged(path, 0);
  ChildProcess module({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_until([&] { return !fs::exists(mail + "VTXWeb2026120419141949.tmp"); })) << module.stderr_text();
  for (const std::string& path : half_written) EXPECT_FALSE(fs::exists(path)) << path;
  for (const std::string& path : kept) EXPECT_TRUE(fs::exists(path)) << path;
  module.signal(SIGTERM);
  EXPECT_EQ(module.wait(), 0);
  const std::string log = read_text(home + "log/VTXWeb.log");
  EXPECT_NE(log.find("  Removed 3 half-written files of an earlier run from " + mail + "\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("  Removed 1 half-written file of an earlier run from " + home + "log/badmsg/\r\n"), std::string::npos);
}

}  // namespace
}  // namespace dexweb::test
