// dexwebctl prune removes the bad copies older than the retention and the half-written files
// a killed module left, and nothing else.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/ctl_runner.h"
#include "support/temp_dir.h"

namespace dexweb::test {
namespace {

namespace fs = std::filesystem;

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

TEST_F(CtlPrune, RemovesOnlyBadCopiesOlderThanTheRetention) {
  aged(bad("old.web"), 45);
  aged(bad("older.WEB"), 90);
  aged(bad("recent.web"), 10);
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

  ASSERT_EQ(run_ctl({"prune", "--home", home}, &out), 0);  // the default: 30 days
  EXPECT_FALSE(fs::exists(bad("old.web")));
  EXPECT_FALSE(fs::exists(bad("older.WEB")));
  for (const std::string& kept : {bad("recent.web"), bad("notes.txt"), home + "data/MailOut/ancient.msg",
                                  home + "web/waiting.msg", dir.dir() + "elsewhere.web"})
    EXPECT_TRUE(fs::exists(kept)) << kept;
  EXPECT_TRUE(fs::is_symlink(bad("link.web")));

  ASSERT_EQ(run_ctl({"prune", "--home", home, "--days", "7"}, &out), 0);
  EXPECT_FALSE(fs::exists(bad("recent.web")));
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

TEST_F(CtlPrune, TheRegistryNamesTheRetention) {
  aged(bad("twelve.web"), 12);
  aged(bad("eight.web"), 8);
  std::string reg = read_text(home + "velotrax.reg");
  const auto at = reg.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax]");
  ASSERT_NE(at, std::string::npos);
  reg.insert(reg.find('\n', at) + 1, "\"Bad_Retention_Days\"=dword:0000000a\n");  // 10 days
  write_text(home + "velotrax.reg", reg);

  std::string out;
  ASSERT_EQ(run_ctl({"prune"}, &out, {{"VELOTRAX_REGISTRY", home + "velotrax.reg"}}), 0);
  EXPECT_FALSE(fs::exists(bad("twelve.web")));
  EXPECT_TRUE(fs::exists(bad("eight.web")));
  EXPECT_NE(out.find("older than 10 days removed"), std::string::npos) << out;
}

}  // namespace
}  // namespace dexweb::test
