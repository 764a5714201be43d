#pragma once
// Programs of the project as real child processes (extra environment values, standard
// output and error captured in files, a bounded wait for the exit): dexwebctl and the module
// on a gateway home, and waiting for what they print and write.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sqlite_db.h"
#include "support/temp_dir.h"

namespace dexweb::test {

class ChildProcess {
 public:
  // An env value PWD is also the folder the child starts in.
  ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
    static int counter = 0;
    const std::string base = "/tmp/dexweb-child-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    out_path_ = base + ".out";
    err_path_ = base + ".err";
    pid_ = ::fork();
    if (pid_ == 0) {
      for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
      if (const auto pwd = env.find("PWD"); pwd != env.end() && ::chdir(pwd->second.c_str()) != 0) ::_exit(126);
      ::dup2(::open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      ::dup2(::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      ::dup2(::open("/dev/null", O_RDONLY), 0);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
  }
  // Kills the child if it still runs.
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::unlink(out_path_.c_str());
    ::unlink(err_path_.c_str());
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int pid() const { return pid_; }
  void signal(int signo) {
    if (pid_ > 0) ::kill(pid_, signo);
  }
  // The exit status, or -1 when it did not exit within the time (or died of a signal).
  int wait(double seconds = 20) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (pid_ > 0) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() > until) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  std::string stderr_text() const { return read_text(err_path_); }
  std::string stdout_text() const { return read_text(out_path_); }

 private:
  int pid_ = -1;
  std::string out_path_, err_path_;
};

// Runs the program to its end and returns its exit status.
inline int run_to_end(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                      std::string* err = nullptr, double seconds = 20) {
  ChildProcess child(argv, env);
  const int status = child.wait(seconds);
  if (err) *err = child.stderr_text();
  return status;
}

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

// argv run under another account and its group, without the caller's other groups.
inline std::vector<std::string> as_account(const std::string& account, const std::string& group,
                                           const std::vector<std::string>& argv) {
  std::vector<std::string> full{"/usr/bin/setpriv", "--reuid=" + account, "--regid=" + group, "--clear-groups"};
  full.insert(full.end(), argv.begin(), argv.end());
  return full;
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

// The token the served form page carries; "" when it carries none.
inline std::string form_token(const std::string& page) {
  std::smatch m;
  const std::regex token(R"re(<input name="token" type="hidden" value="([0-9a-f]{32})">)re");
  return std::regex_search(page, m, token) ? m[1].str() : std::string();
}

// The messages stored in an embedded database and the rows of each.
inline std::map<std::string, int> stored_messages(const std::string& db) {
  std::map<std::string, int> out;
  auto conn = platform::SqliteConnection::open(db);
  auto st = conn.prepare("SELECT [message] FROM [messages]");
  while (st.step()) ++out[st.column_text(0)];
  return out;
}

// A gateway home as dexwebctl init makes it, accounts and all, in a folder of the test's own,
// and what a test reads of it while the real module works it.
class GatewayHome : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(run_ctl({"init", home}), 0); }

  std::map<std::string, std::string> env() const { return {{"VELOTRAX_REGISTRY", home + "velotrax.reg"}}; }
  // The real module on this home; a prefix runs it under another account (as_account).
  std::unique_ptr<ChildProcess> start_module(std::vector<std::string> prefix = {}) const {
    prefix.push_back(DEXWEB_BIN);
    return std::make_unique<ChildProcess>(prefix, env());
  }
  // A message of user, to bob unless told otherwise, as the web form writes it.
  void submit(const std::string& user, const std::vector<std::string>& options = {"--to", "bob"}) const {
    std::vector<std::string> args{"submit", "--home", home, "--user", user, "--message", "hi"};
    args.insert(args.end(), options.begin(), options.end());
    ASSERT_EQ(run_ctl(args), 0);
  }
  // A message file written under a hidden name and renamed into the watched folder, as the
  // web form's writers do.
  void write_message(const std::string& name, const std::string& user, const std::string& text,
                     const std::string& subject = "") const {
    write_text(web + "." + name + ".part", "user=" + user + "\r\nfrm=Pat\r\n" +
                                               (subject.empty() ? "" : "subject=" + subject + "\r\n") + "msg=" + text + "\r\n");
    std::filesystem::rename(web + "." + name + ".part", web + name);
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
  // Each part is in the text; a missing one is named with the whole text.
  static void expect_all(const std::string& text, const std::vector<std::string>& parts) {
    for (const std::string& part : parts) EXPECT_TRUE(has(text, part)) << part << "\n" << text;
  }

  std::string db() const { return home + "data/velotrax.db"; }
  void sql(const std::string& statement) const { platform::SqliteConnection::open(db()).exec(statement); }
  std::map<std::string, int> rows() const { return stored_messages(db()); }
  // Rows of messages as another program reads them; -1 when it cannot.
  long long count_rows(const std::string& where = "") const {
    try {
      auto conn = platform::SqliteConnection::open(db());
      auto st = conn.prepare("SELECT COUNT(*) FROM [messages]" + where);
      return st.step() ? st.column_int(0) : -1;
    } catch (const platform::SqliteError&) {
      return -1;
    }
  }
  std::string log() const { return read_text(home + "log/VTXWeb.log"); }
  bool logged(const std::string& text) const { return has(log(), text); }
  // Waits for the log to hold text (the module writes it once a second).
  bool wait_logged(const std::string& text, double seconds = 15) const {
    return wait_until([&] { return logged(text); }, seconds);
  }
  // Files still to be worked: in the watched folder or in a claim folder there.
  std::size_t waiting_files() const {
    std::size_t n = files_in(web).size();
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(web + ".dexweb", ec))
      n += e.is_regular_file() && e.path().filename() != "lock";
    return n;
  }

  TempDir dir;
  std::string home = dir.dir() + "home/";
  std::string web = home + "web/";
};

}  // namespace dexweb::test
