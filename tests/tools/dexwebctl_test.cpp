// dexwebctl makes a gateway home and submits messages into it as the web form does; the
// intake then works them.
#include <gtest/gtest.h>

#include "config/registry_settings.h"
#include "data/db_object.h"
#include "intake/blacklist.h"
#include "intake/check_for_messages.h"
#include "intake/intake_harness.h"
#include "intake/leftover_files.h"
#include "intake/recipient_list.h"
#include "intake/writer_watch.h"
#include "logging/log_state.h"
#include "logging/reporter.h"
#include "support/child_process.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace dexweb::test {
namespace {

class Dexwebctl : public ::testing::Test {
 protected:
  Dexwebctl() { reset_process_state(); }
  ~Dexwebctl() override { reset_process_state(); }

  // Runs dexwebctl to its end; its standard output goes to out.
  int ctl(const std::vector<std::string>& args, std::string* out = nullptr) {
    std::vector<std::string> argv{DEXWEBCTL_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child(argv, {});
    const int status = child.wait();
    if (out) *out = child.stdout_text();
    return status;
  }

  // The module's view of the home: registry, settings row, one poll.
  bool poll() {
    ScopedEnv registry_env("VELOTRAX_REGISTRY", home + "velotrax.reg");
    const RegistrySettings registry = read_registry_settings();
    ErrorPolicy policy;
    Reporter reporter(registry, &policy);
    ReporterInstall reporter_install(reporter);
    DBObject db(database_settings(registry));
    GatewaySettings settings;
    auto rs = db.OpenRecordset("SELECT [dexwebcgi_path], [retry_interval] FROM [settings]");
    settings.dexwebcgi_path = rs->AsText("dexwebcgi_path");
    settings.retry_interval_text = rs->AsText("retry_interval");
    RecipientList recipients;
    BlackList blacklist;
    LeftoverFiles leftovers;
    WriterWatch writers;
    IntakeContext ctx{db, policy, registry, settings, recipients, blacklist, true, "DexWeb", "host", "", leftovers, writers};
    return check_for_messages(ctx);
  }

  std::vector<std::string> column(const std::string& sql) {
    DatabaseSettings settings;
    settings.db_dir = home + "data/";
    DBObject db(std::move(settings));
    std::vector<std::string> values;
    for (auto rs = db.OpenRecordset(sql); !rs->Eof(); rs->MoveNext()) values.push_back(rs->AsText("v"));
    return values;
  }

  TempDir dir;
  std::string home = dir.dir() + "home/";
};

TEST_F(Dexwebctl, InitMakesAHomeThatTheIntakeWorksIn) {
  std::string out;
  ASSERT_EQ(ctl({"init", home, "--port", "7411"}, &out), 0);
  EXPECT_NE(out.find("export VELOTRAX_REGISTRY=" + home + "velotrax.reg\n"), std::string::npos) << out;
  for (const char* folder : {"prog", "data", "data/MailOut", "log", "log/badmsg", "web"})
    EXPECT_TRUE(std::filesystem::is_directory(home + folder)) << folder;
  const std::string registry = read_text(home + "velotrax.reg");
  EXPECT_NE(registry.find("\"DB_Dir\"=\"" + home + "data/\""), std::string::npos);
  EXPECT_NE(registry.find("\"Run_Type\"=\"Application\""), std::string::npos);
  EXPECT_NE(registry.find("\"VTM_Port\"=\"7411\""), std::string::npos);
  EXPECT_EQ(ctl({"init", home}), 1);  // never over an existing home

  ASSERT_EQ(ctl({"submit", "--home", home, "--user", "Sales", "--from", "Pat", "--to", "bob amy", "--message",
                 "two\nlines"},
                &out),
            0);
  const std::string written = out.substr(0, out.size() - 1);
  ASSERT_EQ(files_in(home + "web"), std::vector<std::string>{std::filesystem::path(written).filename()});
  EXPECT_TRUE(written.ends_with(".msg"));
  EXPECT_EQ(read_text(written), "user=Sales\r\nfrm=Pat\r\nsubject=bob amy\r\nmsg=two\r\nlines\r\n");

  EXPECT_TRUE(poll());
  EXPECT_TRUE(files_in(home + "web").empty());
  EXPECT_EQ(column("SELECT [user] AS v FROM [messages] ORDER BY [record_id]"),
            (std::vector<std::string>{"sales", "bob", "amy"}));
  EXPECT_EQ(column("SELECT [message] AS v FROM [messages] WHERE [user] = 'bob'"),
            std::vector<std::string>{"two\r\nlines"});
}

TEST_F(Dexwebctl, ARefusedSubmissionEndsInTheBadFolder) {
  ASSERT_EQ(ctl({"init", home}), 0);
  ASSERT_EQ(ctl({"submit", "--folder", home + "web", "--user", "noweb", "--message", "hi"}), 0);
  EXPECT_TRUE(poll());
  EXPECT_TRUE(files_in(home + "web").empty());
  EXPECT_EQ(files_in(home + "log/badmsg").size(), 1u);
}

TEST_F(Dexwebctl, BadCommandLinesAreRefused) {
  EXPECT_EQ(ctl({}), 2);
  EXPECT_EQ(ctl({"submit", "--folder", home}), 2);  // no --user
  EXPECT_EQ(ctl({"submit", "--user", "x", "--home", home, "--folder", home}), 2);
  EXPECT_EQ(ctl({"init", home, "--port", "0"}), 2);
  EXPECT_EQ(ctl({"submit", "--home", home, "--user", "x"}), 1);  // no home there
}

}  // namespace
}  // namespace dexweb::test
