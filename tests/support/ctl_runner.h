#pragma once
// dexwebctl and the module as real child processes, and waiting for what they print.

#include <chrono>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace dexweb::test {

inline std::vector<std::string> ctl_argv(const std::vector<std::string>& args) {
  std::vector<std::string> argv{DEXWEBCTL_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// Runs dexwebctl to its end; its standard output goes to out, standard error to err.
inline int run_ctl(const std::vector<std::string>& args, std::string* out = nullptr,
                   const std::map<std::string, std::string>& env = {}, std::string* err = nullptr) {
  ChildProcess child(ctl_argv(args), env);
  const int status = child.wait();
  if (out) *out = child.stdout_text();
  if (err) *err = child.stderr_text();
  return status;
}

// Polls until done() holds or seconds pass; returns done().
template <typename Done>
bool wait_until(Done done, double seconds = 15) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return done();
}

// The port in the first "PATTERN:PORT" or "PATTERN PORT" in the text read() gives, waiting
// for it to appear; 0 when it does not.
template <typename Read>
int announced_port(Read read, const std::string& pattern) {
  const std::regex re(pattern + "[: ]([0-9]+)");
  std::smatch m;
  std::string text;
  wait_until([&] { return std::regex_search(text = read(), m, re); });
  return m.empty() ? 0 : std::stoi(m[1]);
}

// dexwebctl serve for a home on free loopback ports, and the ports it announced (0 when
// none): port for the public, status_port for the operator.
struct Served {
  std::unique_ptr<ChildProcess> process;
  int port = 0;
  int status_port = 0;
};
inline Served serve(const std::string& home, const std::vector<std::string>& options = {}) {
  std::vector<std::string> args{"serve", "--home", home, "--listen", "127.0.0.1:0", "--status-listen", "127.0.0.1:0"};
  args.insert(args.end(), options.begin(), options.end());
  Served served{std::make_unique<ChildProcess>(ctl_argv(args), std::map<std::string, std::string>{})};
  const auto out = [&] { return served.process->stdout_text(); };
  served.port = announced_port(out, "serving http://127\\.0\\.0\\.1");
  served.status_port = announced_port(out, "status pages at http://127\\.0\\.0\\.1");
  return served;
}

// A gateway home as dexwebctl init makes it, accounts and all, in a folder of the test's own.
class GatewayHome : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(run_ctl({"init", home}), 0); }

  std::map<std::string, std::string> env() const { return {{"VELOTRAX_REGISTRY", home + "velotrax.reg"}}; }
  // A message of user, to bob unless told otherwise, as the web form writes it.
  void submit(const std::string& user, const std::vector<std::string>& options = {"--to", "bob"}) const {
    std::vector<std::string> args{"submit", "--home", home, "--user", user, "--message", "hi"};
    args.insert(args.end(), options.begin(), options.end());
    ASSERT_EQ(run_ctl(args), 0);
  }
  // What dexwebctl status says of a home, as JSON unless told otherwise (its exit status is 0
  // when the home's module runs, 3 when it does not).
  static std::string status(const std::string& of, const std::vector<std::string>& options = {"--json"}) {
    std::vector<std::string> args{"status", "--home", of};
    args.insert(args.end(), options.begin(), options.end());
    std::string out, err;
    const int exit_status = run_ctl(args, &out, {}, &err);
    EXPECT_TRUE(exit_status == 0 || exit_status == 3) << exit_status << " " << err;
    return out;
  }
  static bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

  TempDir dir;
  std::string home = dir.dir() + "home/";
};

}  // namespace dexweb::test
