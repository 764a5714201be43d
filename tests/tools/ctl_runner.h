#pragma once
// dexwebctl and the module as real child processes, and waiting for what they print.

#include <chrono>
#include <map>
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

// A gateway home as dexwebctl init makes it, accounts and all, in a folder of the test's own.
class GatewayHome : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(run_ctl({"init", home}), 0); }

  std::map<std::string, std::string> env() const { return {{"VELOTRAX_REGISTRY", home + "velotrax.reg"}}; }
  // A message of user to bob, as the web form writes it.
  void submit(const std::string& user) const {
    ASSERT_EQ(run_ctl({"submit", "--home", home, "--user", user, "--to", "bob", "--message", "hi"}), 0);
  }
  static bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

  TempDir dir;
  std::string home = dir.dir() + "home/";
};

}  // namespace dexweb::test
