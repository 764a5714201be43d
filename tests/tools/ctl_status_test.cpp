// What dexwebctl tells of a gateway home, asked of that home alone: status (the control row,
// the watched folder, the messages rows, the bad copies and the mail files, as text or JSON),
// the machine answers of serve (/healthz, /status.json, /metrics), the status page's refusals
// and chart, the control row commands and check, with the real module running.
#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <filesystem>

#include "support/temp_dir.h"
#include "tools/ctl_runner.h"
#include "util/text.h"

namespace dexweb::test {
namespace {

using CtlStatus = GatewayHome;

TEST_F(CtlStatus, ShowsANewHomeAndTheFilesWaitingInIt) {
  // Whether a module process runs depends on the other tests running beside this one.
  std::string json = status(home);
  EXPECT_TRUE(has(json, R"("control":{"found":true,"run":true,"pause":false,"state":false},)")) << json;
  EXPECT_TRUE(has(json, R"("waiting":{"folder":")" + home + R"(web/","count":0,"newest":[]})")) << json;
  EXPECT_TRUE(has(json, R"("messages":[],"refusals":[]})")) << json;

  submit("bob");
  write_text(home + "web/odd\"name\n.msg", "user=bob\r\nmsg=x\r\n");
  write_text(home + "web/not-a-message.tmp", "");
  json = status(home);
  EXPECT_TRUE(has(json, R"("count":2,)")) << json;
  EXPECT_TRUE(has(json, R"("name":"odd\"name\u000a.msg")")) << json;

  const std::string text = status(home, {});
  EXPECT_TRUE(has(text, " (dexweb_run true, dexweb_pause false, dexweb_state false)\n")) << text;
  EXPECT_TRUE(has(text, "\nwaiting: 2 in " + home + "web/\n")) << text;
  std::string via_env;
  ASSERT_EQ(run_ctl({"status", "--json"}, &via_env, env()), 0);
  EXPECT_EQ(via_env.substr(via_env.find("\"control\"")), json.substr(json.find("\"control\"")));
}

// The module's run as status, the monitor and the control commands show it; a module of
// another home runs beside it and is none of this home's.
TEST_F(CtlStatus, TheRunningModuleSeenThroughStatusMonitorAndControlCommands) {
  const std::string other = dir.dir() + "other/";
  ASSERT_EQ(run_ctl({"init", other}), 0);
  ChildProcess monitor(ctl_argv({"monitor", "--port", "0", "--colour", "never"}), {});
  const int monitor_port = announced_port([&] { return monitor.stderr_text(); }, "on 127\\.0\\.0\\.1");
  ASSERT_GT(monitor_port, 0);
  write_text(home + "velotrax.reg", text::replace_all(read_text(home + "velotrax.reg"), "\"VTM_Port\"=\"7400\"",
                                                      "\"VTM_Port\"=\"" + std::to_string(monitor_port) + "\""));
  submit("bob", {"--from", "Pat"});
  submit("noweb", {"--from", "Pat"});
  write_text(home + "data/MailOut/notice.msg", "mail");
  ASSERT_EQ(run_ctl({"pause", "--home", home}), 0);
  EXPECT_TRUE(has(status(home), R"("control":{"found":true,"run":true,"pause":true,)"));
  ASSERT_EQ(run_ctl({"resume", "--home", home}), 0);
  EXPECT_TRUE(has(status(home), R"("control":{"found":true,"run":true,"pause":false,)"));

  // A lock folder of its own: another module running on this machine must not refuse it.
  ChildProcess module({DEXWEB_BIN}, {{"VELOTRAX_REGISTRY", home + "velotrax.reg"}, {"XDG_RUNTIME_DIR", home}});
  EXPECT_TRUE(wait_until([&] { return files_in(home + "web").empty() && has(status(home), R"("poll":{)"); }))
      << module.stderr_text();
  const std::string running = status(home);
  EXPECT_TRUE(has(running, R"({"state":"running","processes":[)")) << running;
  EXPECT_TRUE(std::regex_search(running, std::regex(R"("processes":\[[0-9]+\],"pid":[0-9]+,)"))) << running;
  const std::string elsewhere = status(other);
  EXPECT_TRUE(has(elsewhere, R"({"state":"stopped","processes":[],"pid":null,"poll":null,)")) << elsewhere;
  EXPECT_TRUE(wait_until([&] { return has(monitor.stdout_text(), "(recipients: good 1, bad 1)"); })) << monitor.stdout_text();
  EXPECT_TRUE(has(monitor.stdout_text(), "  running  ")) << monitor.stdout_text();
  std::string out;
  ASSERT_EQ(run_ctl({"stop", "--home", home}, &out), 0);
  EXPECT_EQ(out, "control: dexweb_run false\n");
  EXPECT_EQ(module.wait(), 0) << module.stderr_text();  // the module obeys the row

  const std::string json = status(home);
  EXPECT_TRUE(has(json, R"("state":"stopped")")) << json;
  EXPECT_TRUE(has(json, R"("messages":[{"record_id":"1","user":"bob","pin":"","frm":"Pat","requested":")")) << json;
  EXPECT_TRUE(has(json, R"(","message":"hi"}],"refusals":[{)")) << json;
  EXPECT_TRUE(has(json, R"("bad_copies":{"folder":")" + home + R"(log/badmsg/","count":1,)")) << json;
  EXPECT_TRUE(has(json, R"("mail_files":{"folder":")" + home + R"(data/MailOut/","count":1,"newest":[{"name":"notice.msg",)"))
      << json;
  const std::string text = status(home, {});
  EXPECT_TRUE(has(text, "last messages: 1\n  #1  ")) << text;
  EXPECT_TRUE(has(text, "  bob  from Pat: hi\nbad copies: 1 in ")) << text;
  ASSERT_EQ(run_ctl({"version"}, &out), 0);
  EXPECT_EQ(out, "dexwebctl 1.0.0\n");
}

TEST_F(CtlStatus, FailsWithoutAGatewayAndMakesNoDatabase) {
  std::string err;
  EXPECT_EQ(run_ctl({"status", "--home", dir.dir() + "nowhere"}, nullptr, {}, &err), 1);
  std::filesystem::remove(home + "data/velotrax.db");
  EXPECT_EQ(run_ctl({"status", "--home", home}, nullptr, {}, &err), 1);
  EXPECT_FALSE(std::filesystem::exists(home + "data/velotrax.db"));
}

TEST_F(CtlStatus, ServeAnswersMachinesAndShowsWhyFilesWereRefused) {
  const Served server = serve(home);
  ASSERT_GT(server.status_port, 0) << server.process->stderr_text();
  httplib::Client client("127.0.0.1", server.status_port);

  auto health = client.Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 503);
  EXPECT_EQ(health->body, "not running: nobody holds this home's instance lock\n");

  submit("bob");
  submit("nobody-at-all");
  write_text(home + "web/no-user.msg", "msg=hi\r\n");
  ChildProcess module({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_until([&] {
    auto r = client.Get("/healthz");
    return r && r->status == 200;
  })) << module.stderr_text();
  ASSERT_TRUE(wait_until([&] { return files_in(home + "web").empty(); }));
  EXPECT_TRUE(client.Get("/healthz")->body.starts_with("ok: process "));

  // The log file, where the reasons are read from, is written once a second.
  ASSERT_TRUE(wait_until([&] { return has(client.Get("/status")->body, "<td>No user field in web data</td>"); }))
      << client.Get("/status")->body;
  ASSERT_TRUE(wait_until([&] { return has(client.Get("/metrics")->body, "dexweb_messages_refused_total 2\n"); }))
      << client.Get("/metrics")->body;
  const auto metrics = client.Get("/metrics");
  EXPECT_TRUE(has(metrics->get_header_value("Content-Type"), "text/plain; version=0.0.4")) << metrics->get_header_value("Content-Type");
  // Each accepted recipient is a row.
  std::smatch rows;
  ASSERT_TRUE(std::regex_search(metrics->body, rows, std::regex("\ndexweb_message_rows ([1-9][0-9]*)\n"))) << metrics->body;
  for (const std::string& line : std::vector<std::string>{"# TYPE dexweb_up gauge\ndexweb_up 1\n", "dexweb_messages_accepted_total " + rows[1].str() + "\n",
                                 std::string("dexweb_bad_copies 2\n"), "dexweb_files_waiting 0\n",
                                 std::string("dexweb_oldest_waiting_seconds 0\n"), std::string("\ndexweb_seconds_since_last_poll ")})
    EXPECT_TRUE(has(metrics->body, line)) << line << "\n" << metrics->body;

  const std::string json = status(home);
  const auto served = client.Get("/status.json");
  EXPECT_EQ(served->get_header_value("Content-Type"), "application/json");
  // The same facts as `status --json`, but for the seconds that pass between the two.
  const std::regex seconds(R"("seconds_since":[0-9]+)");
  EXPECT_EQ(std::regex_replace(served->body, seconds, ""), std::regex_replace(json, seconds, ""));
  EXPECT_TRUE(has(json, R"("reason":"Recipient record not found or web service not enabled for recipient.")")) << json;

  const std::string page = client.Get("/status")->body;
  EXPECT_TRUE(has(page, "<td>Recipient record not found or web service not enabled for recipient.</td>")) << page;
  EXPECT_TRUE(has(page, "accepted <strong id=\"hour-accepted\">" + rows[1].str() + "</strong>, refused <strong id=\"hour-refused\">2</strong>")) << page;
  // The busiest minute's bars are full height, the newest minute on the right.
  EXPECT_TRUE(std::regex_search(page, std::regex(R"re(<rect class="accepted" x="(472|464)" y="0" width="7" height="50" fill="#2a2"/>)re"))) << page;
  EXPECT_TRUE(std::regex_search(page, std::regex(R"re(<rect class="refused" x="(472|464)" y="51" width="7" height="50" fill="#c22"/>)re"))) << page;
  EXPECT_FALSE(has(page, "<script"));

  // A module that no longer polls is unhealthy while it still holds the lock: here it is
  // stopped, and the last poll stays behind in the state file. The server reads the facts
  // at most once a second.
  module.signal(SIGTERM);
  EXPECT_EQ(module.wait(), 0);
  EXPECT_TRUE(wait_until([&] { return client.Get("/healthz")->status == 503; }));
  EXPECT_TRUE(has(client.Get("/metrics")->body, "dexweb_up 0\n"));
}

class CtlCheck : public GatewayHome {
 protected:
  int check(std::string& out, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"check", "--home", home};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_ctl(args, &out);
  }

  void append_registry(const std::string& text) {
    write_text(home + "velotrax.reg", read_text(home + "velotrax.reg") + text);
  }

};

TEST_F(CtlCheck, AFreshHomePassesAndEachFaultIsOneProblemLine) {
  std::string out;
  ASSERT_EQ(check(out), 0) << out;
  EXPECT_TRUE(has(out, "ok database: dbversion 1100, settings row (poll every 2 s)\n")) << out;
  EXPECT_TRUE(has(out, "ok watched folder " + home + "web/ writable by root\n")) << out;
  EXPECT_TRUE(has(out, "\n0 problems (account root, started as a program)\n")) << out;

  append_registry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax]\n\"DB_dirr\"=\"/x/\"\nthis is no registry line\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax\\Monitr]\n");
  write_text(home + "prog/vtfilter.so", "not a library");
  write_text(home + "prog/vtfilter", "#!/bin/sh\n");  // not executable
  EXPECT_EQ(check(out, {"--as", "service"}), 1);
  for (const std::string& line : std::vector<std::string>{"problem registry line 15: unknown value \"DB_dirr\" in [HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax]\n",
                                 std::string("problem registry line 16: cannot be read: this is no registry line\n"),
                                 std::string("problem registry line 17: unknown key [HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax\\Monitr]\n"),
                                 std::string("problem Run_Type \"Application\": started under systemd it should say \"NTService\"\n"),
                                 "problem filter library " + home + "prog/vtfilter.so: ",
                                 "problem filter program " + home + "prog/vtfilter is not executable by root\n"})
    EXPECT_TRUE(has(out, line)) << line << "\n" << out;

  write_text(home + "velotrax.reg", text::replace_all(read_text(home + "velotrax.reg"), "\"Log_Dir\"=\"" + home + "log/\"", "\"Log_Dir\"=\"log/\""));
  EXPECT_EQ(check(out), 1);
  EXPECT_TRUE(has(out, "problem Log_Dir \"log/\" is relative: a service runs in \"/\"\n")) << out;
}

TEST_F(CtlCheck, TheAccountAndTheDatabaseAreChecked) {
  std::string out;
  // The home belongs to root: the unprivileged account may write none of its folders.
  EXPECT_EQ(check(out, {"--account", "nobody"}), 1);
  EXPECT_TRUE(has(out, "problem watched folder " + home + "web/ not writable by nobody\n")) << out;
  EXPECT_TRUE(has(out, "problem Log_Dir " + home + "log/ not writable by nobody\n")) << out;
  // Reachable (the test's folders are private) and open to all: then it may.
  for (const std::string& folder : {dir.dir(), home})
    std::filesystem::permissions(folder, std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  std::filesystem::permissions(home + "web", std::filesystem::perms::all);
  EXPECT_EQ(check(out, {"--account", "nobody"}), 1);
  EXPECT_TRUE(has(out, "ok watched folder " + home + "web/ writable by nobody\n")) << out;

  // A database made from the schema alone.
  std::filesystem::remove(home + "data/velotrax.db");
  ASSERT_EQ(std::system(("sqlite3 " + home + "data/velotrax.db < " DEXWEB_SCHEMA_DIR "/sqlite.sql").c_str()), 0);
  EXPECT_EQ(check(out), 1);
  EXPECT_TRUE(has(out, "problem database: no settings row\n")) << out;
  EXPECT_TRUE(has(out, "problem database: no control row\n")) << out;
  EXPECT_TRUE(has(out, "ok embedded database ")) << out;
}

}  // namespace
}  // namespace dexweb::test
