#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/temp_dir.h"

namespace dexweb::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
  static int counter = 0;
  std::string base = "/tmp/dexweb-child-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  out_path_ = base + ".out";
  err_path_ = base + ".err";
  pid_ = ::fork();
  if (pid_ == 0) {
    for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
    if (const auto pwd = env.find("PWD"); pwd != env.end() && ::chdir(pwd->second.c_str()) != 0) ::_exit(126);
    int out = ::open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  ::unlink(out_path_.c_str());
  ::unlink(err_path_.c_str());
}

void ChildProcess::signal(int signo) {
  if (pid_ > 0) ::kill(pid_, signo);
}

int ChildProcess::wait(double seconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (pid_ > 0) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (std::chrono::steady_clock::now() > until) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

std::string ChildProcess::stderr_text() const { return read_text(err_path_); }
std::string ChildProcess::stdout_text() const { return read_text(out_path_); }

int run_to_end(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
               std::string* err, double seconds) {
  ChildProcess child(argv, env);
  int status = child.wait(seconds);
  if (err) *err = child.stderr_text();
  return status;
}

}  // namespace dexweb::test
