// dexwebctl makes a gateway home and submits messages into it exactly as the web form writes
// them; the module's tests work such homes.
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

TEST(Dexwebctl, BadCommandLinesAreRefused) {
  TempDir dir;
  const std::string home = dir.dir() + "home/";
  EXPECT_EQ(run_ctl({}), 2);
  EXPECT_EQ(run_ctl({"submit", "--folder", home}), 2);  // no --user
  EXPECT_EQ(run_ctl({"submit", "--user", "x", "--home", home, "--folder", home}), 2);
  EXPECT_EQ(run_ctl({"init", home, "--port", "0"}), 2);
  EXPECT_EQ(run_ctl({"submit", "--home", home, "--user", "x"}), 1);  // no home there
}

}  // namespace
}  // namespace dexweb::test
