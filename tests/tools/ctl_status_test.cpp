// dexwebctl status reads a gateway home as the module leaves it: the control row, the
// watched folder, the messages rows, the bad copies and the mail files; as text or JSON.
#include <gtest/gtest.h>

#include <csignal>

#include "support/temp_dir.h"
#include "tools/ctl_runner.h"

namespace dexweb::test {
namespace {

class CtlStatus : public ::testing::Test {
 protected:
  void init(int monitor_port = 7400) { ASSERT_EQ(run_ctl({"init", home, "--port", std::to_string(monitor_port)}), 0); }

  std::string status(const std::vector<std::string>& extra = {"--json"}) {
    std::vector<std::string> args{"status", "--home", home};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string out, err;
    EXPECT_EQ(run_ctl(args, &out, {}, &err), 0) << err;
    return out;
  }

  void submit(const std::string& user, const std::string& from = "Pat") {
    ASSERT_EQ(run_ctl({"submit", "--home", home, "--user", user, "--from", from, "--message", "hi"}), 0);
  }

  static bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

  TempDir dir;
  std::string home = dir.dir() + "home/";
};

TEST_F(CtlStatus, ShowsANewHomeAndTheFilesWaitingInIt) {
  ASSERT_NO_FATAL_FAILURE(init());
  // Whether a module process runs depends on the other tests running beside this one.
  std::string json = status();
  EXPECT_TRUE(has(json, R"("control":{"found":true,"run":true,"pause":false,"state":false},)")) << json;
  EXPECT_TRUE(has(json, R"("waiting":{"folder":")" + home + R"(web/","count":0,"newest":[]})")) << json;
  EXPECT_TRUE(has(json, R"("messages":[],"refusals":[]})")) << json;

  submit("bob");
  write_text(home + "web/odd\"name\n.msg", "user=bob\r\nmsg=x\r\n");
  write_text(home + "web/not-a-message.tmp", "");
  json = status();
  EXPECT_TRUE(has(json, R"("count":2,)")) << json;
  EXPECT_TRUE(has(json, R"("name":"odd\"name\u000a.msg")")) << json;

  const std::string text = status({});
  EXPECT_TRUE(has(text, " (dexweb_run true, dexweb_pause false, dexweb_state false)\n")) << text;
  EXPECT_TRUE(has(text, "\nwaiting: 2 in " + home + "web/\n")) << text;
  std::string via_env;
  ASSERT_EQ(run_ctl({"status", "--json"}, &via_env, {{"VELOTRAX_REGISTRY", home + "velotrax.reg"}}), 0);
  EXPECT_EQ(via_env.substr(via_env.find("\"control\"")), json.substr(json.find("\"control\"")));
}

TEST_F(CtlStatus, TheRunningModuleSeenThroughStatusAndMonitor) {
  ChildProcess monitor(ctl_argv({"monitor", "--port", "0", "--colour", "never"}), {});
  const int monitor_port = announced_port([&] { return monitor.stderr_text(); }, "on 127\\.0\\.0\\.1");
  ASSERT_GT(monitor_port, 0);
  ASSERT_NO_FATAL_FAILURE(init(monitor_port));
  submit("bob");
  submit("noweb");
  write_text(home + "data/MailOut/notice.msg", "mail");

  // A lock folder of its own: another module running on this machine must not refuse it.
  ChildProcess module({DEXWEB_BIN}, {{"VELOTRAX_REGISTRY", home + "velotrax.reg"}, {"XDG_RUNTIME_DIR", home}});
  EXPECT_TRUE(wait_until([&] { return files_in(home + "web").empty(); })) << module.stderr_text();
  const std::string running = status();
  EXPECT_TRUE(has(running, R"({"state":"running","processes":[)")) << running;
  EXPECT_TRUE(wait_until([&] { return has(monitor.stdout_text(), "(recipients: good 1, bad 1)"); })) << monitor.stdout_text();
  EXPECT_TRUE(has(monitor.stdout_text(), "  running  ")) << monitor.stdout_text();
  module.signal(SIGTERM);
  EXPECT_EQ(module.wait(), 0) << module.stderr_text();

  const std::string json = status();
  EXPECT_TRUE(has(json, R"("messages":[{"record_id":"1","user":"bob","pin":"","frm":"Pat","requested":")")) << json;
  EXPECT_TRUE(has(json, R"(","message":"hi"}],"refusals":[{)")) << json;
  EXPECT_TRUE(has(json, R"("bad_copies":{"folder":")" + home + R"(log/badmsg/","count":1,)")) << json;
  EXPECT_TRUE(has(json, R"("mail_files":{"folder":")" + home + R"(data/MailOut/","count":1,"newest":[{"name":"notice.msg",)"))
      << json;
  const std::string text = status({});
  EXPECT_TRUE(has(text, "last messages: 1\n  #1  ")) << text;
  EXPECT_TRUE(has(text, "  bob  from Pat: hi\nbad copies: 1 in ")) << text;
}

TEST_F(CtlStatus, FailsWithoutAGatewayAndRefusesBadOptions) {
  ASSERT_NO_FATAL_FAILURE(init());
  std::string err;
  EXPECT_EQ(run_ctl({"status", "--home", dir.dir() + "nowhere"}, nullptr, {}, &err), 1);
  EXPECT_TRUE(has(err, "registry file not found: " + dir.dir() + "nowhere/velotrax.reg")) << err;
  std::filesystem::remove(home + "data/velotrax.db");
  EXPECT_EQ(run_ctl({"status", "--home", home}, nullptr, {}, &err), 1);
  EXPECT_FALSE(std::filesystem::exists(home + "data/velotrax.db"));
  EXPECT_EQ(run_ctl({"status", "--home", home, "extra"}), 2);
  EXPECT_EQ(run_ctl({"status", "--json", "--json"}), 2);
}

}  // namespace
}  // namespace dexweb::test
