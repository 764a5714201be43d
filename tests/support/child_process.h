#pragma once
// Runs a program of the project as a real child process, with extra environment values,
// standard error captured in a file, and a bounded wait for its exit.

#include <map>
#include <string>
#include <vector>

namespace dexweb::test {

class ChildProcess {
 public:
  // An env value PWD is also the folder the child starts in.
  ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env);
  ~ChildProcess();  // kills the child if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int pid() const { return pid_; }
  void signal(int signo);
  // The exit status, or -1 when it did not exit within the time (or died of a signal).
  int wait(double seconds = 20);
  std::string stderr_text() const;
  std::string stdout_text() const;

 private:
  int pid_ = -1;
  std::string out_path_, err_path_;
};

// Runs the program to its end and returns its exit status.
int run_to_end(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
               std::string* err = nullptr, double seconds = 20);

}  // namespace dexweb::test
