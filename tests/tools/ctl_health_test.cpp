// What dexwebctl tells of a home's module, asked of that home alone: status, the machine
// answers of serve (/healthz, /status.json, /metrics), the status page's refusals and
// chart, and the control row commands, with the real module running.
#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <filesystem>

#include "support/temp_dir.h"
#include "tools/ctl_runner.h"
#include "util/text.h"

namespace dexweb::test {
namespace {

class CtlHealth : public GatewayHome {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(GatewayHome::SetUp());
    ASSERT_EQ(run_ctl({"init", other}), 0);
  }

  std::string status_json(const std::string& h) {
    std::string out;
    EXPECT_EQ(run_ctl({"status", "--home", h, "--json"}, &out), 0);
    return out;
  }

  std::unique_ptr<ChildProcess> serve(int& port) {
    auto server = std::make_unique<ChildProcess>(ctl_argv({"serve", "--home", home, "--listen", "127.0.0.1:0"}),
                                                 std::map<std::string, std::string>{});
    port = announced_port([&] { return server->stdout_text(); }, "serving http://127\\.0\\.0\\.1");
    return server;
  }

  std::string other = dir.dir() + "other/";
};

TEST_F(CtlHealth, ServeAnswersMachinesAndShowsWhyFilesWereRefused) {
  int port = 0;
  auto server = serve(port);
  ASSERT_GT(port, 0) << server->stderr_text();
  httplib::Client client("127.0.0.1", port);

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

  std::string json;
  ASSERT_EQ(run_ctl({"status", "--home", home, "--json"}, &json), 0);
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
  // stopped, and the last poll stays behind in the state file.
  module.signal(SIGTERM);
  EXPECT_EQ(module.wait(), 0);
  EXPECT_EQ(client.Get("/healthz")->status, 503);
  EXPECT_TRUE(has(client.Get("/metrics")->body, "dexweb_up 0\n"));
}

TEST_F(CtlHealth, StatusAnswersForItsHomeOnlyAndTheControlCommandsWriteTheRow) {
  ASSERT_EQ(run_ctl({"pause", "--home", home}), 0);
  EXPECT_TRUE(has(status_json(home), R"("control":{"found":true,"run":true,"pause":true,)"));
  ASSERT_EQ(run_ctl({"resume", "--home", home}), 0);
  EXPECT_TRUE(has(status_json(home), R"("control":{"found":true,"run":true,"pause":false,)"));

  ChildProcess module({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_until([&] { return has(status_json(home), R"("poll":{)"); })) << module.stderr_text();
  const std::string running = status_json(home);
  EXPECT_TRUE(has(running, R"("state":"running")")) << running;
  EXPECT_TRUE(std::regex_search(running, std::regex(R"("processes":\[[0-9]+\],"pid":[0-9]+,)"))) << running;
  // A module of another home runs on this computer, not this one's.
  const std::string json = status_json(other);
  EXPECT_TRUE(has(json, R"({"state":"stopped","processes":[],"pid":null,"poll":null,)")) << json;
  std::string out;
  ASSERT_EQ(run_ctl({"stop", "--home", home}, &out), 0);
  EXPECT_EQ(out, "control: dexweb_run false\n");
  EXPECT_EQ(module.wait(), 0);  // the module obeys the row
  EXPECT_TRUE(has(status_json(home), R"("state":"stopped")"));
  EXPECT_EQ(run_ctl({"stop", "--home", home, "now"}), 2);
  ASSERT_EQ(run_ctl({"version"}, &out), 0);
  EXPECT_EQ(out, "dexwebctl 1.0.0\n");
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
