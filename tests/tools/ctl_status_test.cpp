// What dexwebctl tells of a gateway home, asked of that home alone: status (the control row,
// the watched folder, the messages rows, the bad copies and the mail files, as text without
// control characters or JSON; running, not running or unknown), the machine answers of serve
// (/healthz, /status.json, /metrics), the status page's refusals and chart, the control row
// commands with what they do to the module and their inverse, and check (every value as the
// module reads it), with the real module running.
#include <elf.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <functional>

#include "support/ctl_runner.h"
#include "support/temp_dir.h"
#include "util/text.h"

namespace dexweb::test {
namespace {

using CtlStatus = GatewayHome;

// What promtool's lint finds wrong with a metrics text: "" when it is clean.
std::string promtool_problems(const std::string& metrics) {
  if (!std::filesystem::exists("/usr/bin/promtool")) return "promtool is not installed (scripts/deps.sh test installs it)";
  TempDir dir;
  write_text(dir.file("metrics"), metrics);
  std::string err;
  const int status = run_to_end({"/bin/sh", "-c", "promtool check metrics < " + dir.file("metrics")}, {}, &err);
  return status == 0 ? "" : "exit " + std::to_string(status) + ": " + err;
}

TEST_F(CtlStatus, ShowsANewHomeAndTheFilesWaitingInIt) {
  // Whether a module process runs depends on the other tests running beside this one.
  std::string json = status(home);
  expect_all(json, {R"("control":{"found":true,"run":true,"pause":false,"state":false},)",
                    R"("waiting":{"folder":")" + home + R"(web/","count":0,"newest":[]})",
                    R"("messages":[],"refusals":[],"unknown":null,"problems":[]})"});

  submit("bob");
  write_text(home + "web/odd\"name\n.msg", "user=bob\r\nmsg=x\r\n");
  write_text(home + "web/not-a-message.tmp", "");
  // Names and rows that would set the terminal's title, clear it and drive it by a C1 code.
  write_text(home + "web/\x1b]0;owned\x07\xc2\x9b" "2J.msg", "");
  ASSERT_EQ(std::system(("sqlite3 " + home + "data/velotrax.db \"INSERT INTO [messages] ([user], [frm], [message]) "
                         "VALUES ('bob', char(27) || '[2J', 'x' || char(10) || 'forged line' || char(7))\"").c_str()), 0);
  json = status(home);
  expect_all(json, {R"("count":3,)", R"("name":"odd\"name\u000a.msg")",
                    R"("name":"\u001b]0;owned\u0007\u009b2J.msg")"});

  const std::string text = status(home, {});
  expect_all(text, {" (dexweb_run true, dexweb_pause false, dexweb_state false)\n",
                    "\nwaiting: 3 in " + home + "web/\n", "  ]0;owned2J.msg\n", " from [2J: x forged line\n"});
  for (const char* control : {"\x1b", "\x07", "\xc2\x9b", "name\n"}) EXPECT_FALSE(has(text, control)) << text;
  std::string via_env;
  ASSERT_EQ(run_ctl({"status", "--json"}, &via_env, env()), 3);  // not running
  EXPECT_EQ(via_env.substr(via_env.find("\"control\"")), json.substr(json.find("\"control\"")));
}

// The module's run as status, serve's machine answers and status page, the monitor and the
// control commands show it; a module of another home runs beside it and is none of this home's.
TEST_F(CtlStatus, TheRunningModuleSeenThroughStatusServeMonitorAndControlCommands) {
  const std::string other = dir.dir() + "other/";
  ASSERT_EQ(run_ctl({"init", other}), 0);
  ChildProcess monitor(ctl_argv({"monitor", "--port", "0", "--colour", "never"}), {});
  const int monitor_port = announced_port([&] { return monitor.stderr_text(); }, "on 127\\.0\\.0\\.1");
  ASSERT_GT(monitor_port, 0);
  write_text(home + "velotrax.reg", text::replace_all(read_text(home + "velotrax.reg"), "\"VTM_Port\"=\"7400\"",
                                                      "\"VTM_Port\"=\"" + std::to_string(monitor_port) + "\""));
  const Served server = serve(home);
  ASSERT_GT(server.status_port, 0) << server.process->stderr_text();
  httplib::Client client("127.0.0.1", server.status_port);
  submit("bob", {"--from", "Pat", "--to", "bob"});  // one file, two rows: bob's own and the recipient bob's
  submit("nobody-at-all", {"--from", "Pat"});
  write_text(home + "web/<img src=x>.msg", "msg=hi\r\n");  // no user
  write_text(home + "data/MailOut/notice.msg", "mail");
  // Before any poll: the last poll's time is 0, the oldest waiting file's is there (once the
  // facts, read at most once a second, were read again).
  std::string waiting;
  ASSERT_TRUE(wait_until([&] { return has(waiting = client.Get("/metrics")->body, "\ndexweb_files_waiting 3\n"); }))
      << waiting;
  for (const char* line : {"\ndexweb_last_poll_timestamp_seconds 0\n", "\ndexweb_oldest_waiting_file_timestamp_seconds 1"})
    EXPECT_TRUE(has(waiting, line)) << line << "\n" << waiting;
  EXPECT_EQ(promtool_problems(waiting), "");
  // The status page refreshes itself and shows the gateway's facts escaped.
  const std::string before = client.Get("/status")->body;
  expect_all(before, {R"(<meta http-equiv="refresh" content="5">)", "(dexweb_run true, dexweb_pause false, dexweb_state false)",
                      "<h2>Waiting (3)</h2><p>" + home + "web/</p>", "&lt;img src=x&gt;.msg"});
  EXPECT_FALSE(has(before, "<img")) << before;
  std::string out;
  ASSERT_EQ(run_ctl({"pause", "--home", home}, &out), 0);
  EXPECT_TRUE(has(out, "Undo: dexwebctl resume\n")) << out;
  const std::string paused = status(home);
  EXPECT_TRUE(has(paused, R"("control":{"found":true,"run":true,"pause":true,)"));
  EXPECT_TRUE(has(paused, R"("problems":["dexweb_pause is true: )")) << paused;
  ASSERT_EQ(run_ctl({"resume", "--home", home}), 0);
  EXPECT_TRUE(has(status(home), R"("control":{"found":true,"run":true,"pause":false,)"));

  ChildProcess module({DEXWEB_BIN}, env());
  EXPECT_TRUE(wait_until([&] { return files_in(home + "web").empty() && has(status(home), R"("poll":{)"); }))
      << module.stderr_text();
  const std::string running = status(home);
  EXPECT_TRUE(has(running, R"({"state":"running","processes":[)")) << running;
  EXPECT_TRUE(std::regex_search(running, std::regex(R"("processes":\[[0-9]+\],"pid":[0-9]+,)"))) << running;
  const std::string elsewhere = status(other);
  EXPECT_TRUE(has(elsewhere, R"({"state":"stopped","processes":[],"pid":null,"poll":null,)")) << elsewhere;
  EXPECT_EQ(run_ctl({"status", "--home", home}), 0);
  EXPECT_TRUE(wait_until([&] { return client.Get("/healthz")->body.starts_with("ok: process "); }));
  EXPECT_TRUE(wait_until([&] { return has(monitor.stdout_text(), "(recipients: good 2, bad 2)"); })) << monitor.stdout_text();
  EXPECT_TRUE(has(monitor.stdout_text(), "  running  ")) << monitor.stdout_text();

  // The log file, where the reasons are read from, is written once a second.
  ASSERT_TRUE(wait_until([&] { return has(client.Get("/status")->body, "<td class=\"why\">No user field in web data</td>"); }))
      << client.Get("/status")->body;
  ASSERT_TRUE(wait_until([&] { return has(client.Get("/metrics")->body, "dexweb_recipients_total{result=\"refused\"} 2\n"); }))
      << client.Get("/metrics")->body;
  const auto metrics = client.Get("/metrics");
  EXPECT_TRUE(has(metrics->get_header_value("Content-Type"), "text/plain; version=0.0.4")) << metrics->get_header_value("Content-Type");
  for (const char* line : {"# TYPE dexweb_up gauge\ndexweb_up 1\n", "\ndexweb_build_info{version=\"1.0.0\"} 1\n",
                                  "\ndexweb_messages_total{result=\"accepted\"} 1\ndexweb_messages_total{result=\"refused\"} 2\n",
                                  "\ndexweb_recipients_total{result=\"accepted\"} 2\n", "\ndexweb_message_rows 2\n",
                                  "\ndexweb_bad_copies 2\n", "\ndexweb_files_waiting 0\n"})
    EXPECT_TRUE(has(metrics->body, line)) << line << "\n" << metrics->body;
  EXPECT_FALSE(has(metrics->body, "dexweb_oldest_waiting")) << metrics->body;
  EXPECT_TRUE(std::regex_search(metrics->body, std::regex("\ndexweb_last_poll_timestamp_seconds 1[0-9]{9}\n"))) << metrics->body;
  EXPECT_EQ(promtool_problems(metrics->body), "");

  const std::string json = status(home);
  const auto served = client.Get("/status.json");
  EXPECT_EQ(served->get_header_value("Content-Type"), "application/json");
  // The same facts as `status --json`, but for the time between the two: the running module
  // may poll in it, and the server's facts may be a second old.
  const std::regex seconds(R"re("(seconds_since|last_poll)":[0-9]+)re");
  EXPECT_EQ(std::regex_replace(served->body, seconds, ""), std::regex_replace(json, seconds, ""));
  EXPECT_TRUE(has(json, R"("reason":"Recipient record not found or web service not enabled for recipient.")")) << json;

  const std::string page = client.Get("/status")->body;
  EXPECT_TRUE(has(page, "<td class=\"why\">Recipient record not found or web service not enabled for recipient.</td>")) << page;
  EXPECT_TRUE(has(page, "accepted <strong id=\"hour-accepted\">2</strong>, refused <strong id=\"hour-refused\">2</strong>")) << page;
  EXPECT_FALSE(has(page, "<script") || has(page, "<img")) << page;
  // The chart: a legend, a count axis from 0, a time axis with a clock time every ten
  // minutes of the hour, and bars that add up to the hour's reports.
  EXPECT_TRUE(std::regex_search(page, std::regex(R"re(<g id="legend".*>accepted</text>.*>refused</text></g>)re"))) << page;
  EXPECT_TRUE(std::regex_search(page, std::regex(R"re(<g id="count-axis"[^>]*><line [^>]*/><text [^>]*>0</text>.*>recipients per minute</text></g>)re"))) << page;
  std::smatch axis;
  ASSERT_TRUE(std::regex_search(page, axis, std::regex(R"re(<g id="time-axis".*?</g>)re"))) << page;
  const std::regex clock_time(R"re(>[0-9]{2}:([0-9]{2})</text>)re");
  std::size_t ticks = 0;
  for (std::sregex_iterator it(axis[0].first, axis[0].second, clock_time), end; it != end; ++it, ++ticks)
    EXPECT_EQ(std::stoi((*it)[1].str()) % 10, 0) << axis[0];
  EXPECT_TRUE(ticks == 6 || ticks == 7) << axis[0];
  const auto reported = [&](const std::string& kind) {
    int sum = 0;
    const std::regex tip("<rect class=\"" + kind + "\" [^>]*><title>[0-9]{2}:[0-9]{2}: ([0-9]+) " + kind + "</title>");
    for (std::sregex_iterator it(page.begin(), page.end(), tip), end; it != end; ++it) sum += std::stoi((*it)[1].str());
    return sum;
  };
  EXPECT_EQ(reported("accepted"), 2) << page;
  EXPECT_EQ(reported("refused"), 2) << page;

  ASSERT_EQ(run_ctl({"stop", "--home", home}, &out), 0);
  EXPECT_TRUE(out.starts_with("control: dexweb_run false\nA running module stops at its next refresh")) << out;
  EXPECT_TRUE(has(out, "until: dexwebctl start\n")) << out;
  EXPECT_EQ(module.wait(), 0) << module.stderr_text();  // the module obeys the row, and says so
  EXPECT_TRUE(has(module.stderr_text(), "VTXWeb: dexweb_run is false in the control row: stopping; run `dexwebctl start`\n"));
  // A module that no longer polls is unhealthy: here it is stopped, and the last poll stays
  // behind in the state file. The server reads the facts at most once a second.
  EXPECT_TRUE(wait_until([&] { return client.Get("/healthz")->status == 503; }));
  EXPECT_TRUE(has(client.Get("/metrics")->body, "dexweb_up 0\n"));

  const std::string stopped = status(home);
  expect_all(stopped, {R"("state":"stopped")",
                       R"("messages":[{"record_id":"2","user":"bob","pin":"","frm":"Pat","requested":")",
                       R"(","message":"hi"}],"refusals":[{)",
                       R"("bad_copies":{"folder":")" + home + R"(log/badmsg/","count":2,)",
                       R"("mail_files":{"folder":")" + home + R"(data/MailOut/","count":1,"newest":[{"name":"notice.msg",)"});
  std::string text;
  EXPECT_EQ(run_ctl({"status", "--home", home}, &text), 3);  // not running
  expect_all(text, {"last messages: 2\n  #2  ", "  bob  from Pat: hi\nbad copies: 2 in ", "\nproblem: dexweb_run is false: "});
  EXPECT_EQ(run_ctl({"check", "--home", home}, &out), 1);
  EXPECT_TRUE(has(out, "\nproblem control row: dexweb_run is false: ")) << out;

  // Stopped by the row, a start stops at once and says why; start undoes stop.
  std::string err;
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 0);
  EXPECT_TRUE(has(err, "dexweb_run is false in the control row: stopping; run `dexwebctl start`")) << err;
  ASSERT_EQ(run_ctl({"start", "--home", home}, &out), 0);
  EXPECT_EQ(out, "control: dexweb_run true, dexweb_pause false\n"
                 "The module is not running: start it (systemctl start VTXWeb, or run dexweb)\n");
  ChildProcess again({DEXWEB_BIN}, env());
  EXPECT_TRUE(wait_until([&] { return run_ctl({"status", "--home", home}) == 0; })) << again.stderr_text();

  // Who cannot read the lock folder (the module's own, mode 0700) cannot tell.
  std::filesystem::permissions(dir.dir(), std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  std::filesystem::permissions(home + "velotrax.reg", std::filesystem::perms::others_read, std::filesystem::perm_options::add);
  ChildProcess status_as_nobody(as_account("nobody", "nogroup", ctl_argv({"status", "--home", home})), {});
  EXPECT_EQ(status_as_nobody.wait(), 4) << status_as_nobody.stderr_text();
  EXPECT_TRUE(status_as_nobody.stdout_text().starts_with("module: unknown: cannot read the lock folder " + home + "data/lock/"))
      << status_as_nobody.stdout_text();
  ChildProcess as_nobody(as_account("nobody", "nogroup", ctl_argv({"serve", "--home", home, "--listen", "127.0.0.1:0"})), {});
  const int port = announced_port([&] { return as_nobody.stdout_text(); }, "serving http://127\\.0\\.0\\.1");
  ASSERT_GT(port, 0) << as_nobody.stderr_text();
  const auto health = httplib::Client("127.0.0.1", port).Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 503);
  EXPECT_TRUE(health->body.starts_with("unknown: cannot read the lock folder ")) << health->body;
  again.signal(SIGTERM);
  EXPECT_EQ(again.wait(), 0);
  ASSERT_EQ(run_ctl({"version"}, &out), 0);
  EXPECT_EQ(out, "dexwebctl 1.0.0\n");
}

class CtlCheck : public GatewayHome {
 protected:
  // No unit is installed unless a test writes one.
  int check(std::string& out, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"check", "--home", home};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_ctl(args, &out, {{"DEXWEB_UNIT_DIR", units}});
  }
  // The test's filter library with its bytes changed where patch says.
  void filter_library(const std::function<void(std::string&)>& patch) {
    std::string bytes = read_text(DEXWEB_TEST_FILTER_LIBRARY);
    patch(bytes);
    write_text(home + "prog/vtfilter.so", bytes);
  }

  std::string units = dir.dir() + "units/";
};

// What the module reads, judged as the module reads it: every registry value by the same
// conversions, the filter as the hardened unit loads it, the unit's account. Each fault is
// one problem line.
TEST_F(CtlCheck, AFreshHomePassesAndEachFaultIsOneProblemLineAsTheModuleMeetsIt) {
  std::string out;
  ASSERT_EQ(check(out), 0) << out;
  expect_all(out, {"ok database: dbversion 1100, settings row (poll every 2 s)\n",
                   "ok watched folder " + home + "web/ writable by root\n",
                   "\n0 problems (account root, started as a program)\n"});
  EXPECT_EQ(check(out, {"--as", "service"}), 1);
  EXPECT_TRUE(has(out, "problem Run_Type \"Application\": started under systemd it should say \"NTService\"\n")) << out;

  const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax";
  write_text(home + "velotrax.reg",
             registry_text("\"Prog_Dir\"=\"" + home + "prog/\"\r\n\"DB_Dir\"=\"" + home + "data\"\r\n\"Log_Dir\"=\"log/\"\r\n"
                           "\"DB_Retries\"=\"lots\"\r\n\"DB_Short_Timeout\"=\"-5\"\r\n\"DB_dirr\"=\"/x/\"\r\nthis is no registry line\r\n",
                           "\"Run_Type\"=\"Servce\"\r\n",
                           "\"VTM_Enabled\"=\"true\"\r\n\"VTM_Port\"=\"99999\"\r\n\"VTM_IP1\"=\"monitor.example.org\"\r\n") +
                 key + "\\Monitr]\r\n");
  write_text(home + "prog/vtfilter", "#!/bin/sh\n");  // not executable
  // An executable stack, which MemoryDenyWriteExecute refuses: loaded here, it would pass.
  filter_library([](std::string& elf) {
    Elf64_Ehdr header;
    std::memcpy(&header, elf.data(), sizeof header);
    // The type is the first field of a program header (resolv.h, which httplib includes,
    // makes a macro of its name).
    for (std::size_t i = 0; i < header.e_phnum; ++i) {
      char* ph = elf.data() + header.e_phoff + i * sizeof(Elf64_Phdr);
      std::uint32_t type = 0, flags = 0;
      std::memcpy(&type, ph, sizeof type);
      if (type != PT_GNU_STACK) continue;
      std::memcpy(&flags, ph + offsetof(Elf64_Phdr, p_flags), sizeof flags);
      flags |= PF_X;
      std::memcpy(ph + offsetof(Elf64_Phdr, p_flags), &flags, sizeof flags);
    }
  });
  std::filesystem::create_directories(units + "VTXWeb.service.d");
  write_text(units + "VTXWeb.service", "[Service]\nUser=velotrax\n");
  write_text(units + "VTXWeb.service.d/10-account.conf", "[Service]\nUser=nobody\n");
  EXPECT_EQ(check(out), 1);
  expect_all(out, {"problem registry line 9: unknown value \"DB_dirr\" in " + key + "]\n",
                   "problem registry line 10: cannot be read: this is no registry line\n",
                   "problem registry line 19: unknown key " + key + "\\Monitr]\n",
                   "problem DB_Dir \"" + home + "data\" does not end with \"/\": the module appends names to it directly (" +
                       home + "datavelotrax.db)\n",
                   "problem Log_Dir \"log/\" is relative: a service runs in \"/\"\n",
                   "problem DB_Retries \"lots\" must be a whole number from 1 to 100 (0: the default); the module uses 3\n",
                   "problem DB_Short_Timeout \"-5\" must be a whole number from 1 to 3600 (0: the default); the module uses -5\n",
                   "problem Run_Type \"Servce\" is neither \"NTService\" nor \"Application\" (case counts): the module runs "
                   "as a program without warnings\n",
                   "problem VTM_Port \"99999\" is not a port number from 1 to 65535: no datagram is sent\n",
                   "problem VTM_IP1 \"monitor.example.org\" is not a dotted IPv4 address: ",
                   "problem filter library " + home + "prog/vtfilter.so asks for an executable stack: the service "
                   "(MemoryDenyWriteExecute) cannot load it",
                   "problem filter program " + home + "prog/vtfilter is not executable by nobody\n",
                   " (account nobody, started as a program)\n"});

  filter_library([](std::string& elf) {
    const std::uint16_t arm = EM_AARCH64;
    std::memcpy(elf.data() + offsetof(Elf64_Ehdr, e_machine), &arm, sizeof arm);
  });
  EXPECT_EQ(check(out), 1);
  expect_all(out, {"problem filter library " + home + "prog/vtfilter.so is built for AArch64, not for this computer\n"});
  write_text(home + "prog/vtfilter.so", "not a library");
  EXPECT_EQ(check(out), 1);
  expect_all(out, {"problem filter library " + home + "prog/vtfilter.so: "});
}

// The registry, the account and the database as the module finds them: a branch exported
// from 64-bit Windows is read in the product branch's place (and said), a database kind the
// module cannot work with is refused by both.
TEST_F(CtlCheck, TheRegistryBranchTheAccountAndTheDatabaseAsTheModuleFindsThem) {
  write_text(home + "velotrax.reg", text::replace_all(read_text(home + "velotrax.reg"), "\\SOFTWARE\\Wyndrose\\",
                                                      "\\SOFTWARE\\WOW6432Node\\Wyndrose\\"));
  std::string out;
  EXPECT_EQ(check(out), 0) << out;
  expect_all(out, {"ok no [HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax]: its values are read from "
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Wyndrose\\Velotrax]",
                     "ok database opens\n"});
  {
    ChildProcess module({DEXWEB_BIN}, env());
    EXPECT_TRUE(wait_logged("  Module Started")) << module.stderr_text();
    module.signal(SIGTERM);
    EXPECT_EQ(module.wait(), 0);
    EXPECT_TRUE(has(module.stderr_text(), "its values are read from [HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\"))
        << module.stderr_text();
  }

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
  expect_all(out, {"problem database: no settings row\n",
                   "problem database: no control row: the module stops at its first refresh\n",
                   "ok embedded database "});

  const std::string driver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
  if (!std::filesystem::exists(driver)) GTEST_SKIP() << "the SQLite ODBC driver (libsqliteodbc) is not installed";
  write_text(home + "data/SqlServerConnectionString.txt", "Driver=" + driver + ";\nDatabase=" + home + "data/velotrax.db;\n");
  const std::string refusal = "not supported: SQLite ODBC; use the embedded database or PostgreSQL/SQL Server";
  EXPECT_EQ(check(out), 1);
  expect_all(out, {"problem database: " + refusal + "\n"});
  std::string err;
  EXPECT_EQ(run_to_end({DEXWEB_BIN}, env(), &err), 1);
  EXPECT_TRUE(has(err, "VTXWeb: Cannot open the database: " + refusal + "\n")) << err;
}

}  // namespace
}  // namespace dexweb::test
