#include "platform/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <optional>
#include <thread>

#include "platform/event_loop.h"
#include "platform/fd.h"

namespace dexweb::platform {
namespace {

// execvp's view of args; built before fork, since the child may only call exec and _exit.
std::vector<char*> c_argv(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// A child leading a process group of its own. Unless it was reaped, the destructor kills the
// whole group and reaps the child, so no filter or its helpers outlive an abandoned wait.
class GroupChild {
 public:
  explicit GroupChild(pid_t pid) : pid_(pid) {}
  ~GroupChild() {
    if (pid_ > 0) kill_and_reap();
  }
  GroupChild(const GroupChild&) = delete;
  GroupChild& operator=(const GroupChild&) = delete;

  // The wait status once the child has ended; nullopt while it runs.
  std::optional<int> poll() {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0 || (r < 0 && errno == EINTR)) return std::nullopt;
    pid_ = -1;
    return status;
  }

  int kill_and_reap() {
    ::kill(-pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_;
};

ProgramRun outcome_of(int status) {
  if (WIFEXITED(status)) return {ProgramRun::End::Exited, WEXITSTATUS(status)};
  return {ProgramRun::End::Signalled, WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}

// The errno the child sent before exec failed, or nullopt once exec closed the pipe.
std::optional<int> exec_error(const Fd& report) {
  int error = 0;
  ssize_t n;
  while ((n = ::read(report.get(), &error, sizeof error)) < 0 && errno == EINTR) {
  }
  return n == static_cast<ssize_t>(sizeof error) ? std::optional<int>(error) : std::nullopt;
}

}  // namespace

bool spawn_detached(const std::vector<std::string>& args) {
  if (args.empty() || args[0].empty()) return false;
  std::vector<char*> argv = c_argv(args);

  // Fork twice: the intermediate child exits at once and is reaped here, so the program
  // becomes init's child and never lingers as a zombie of this long-running process.
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    ::_exit(grandchild < 0 ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

ProgramRun run_and_wait(const std::vector<std::string>& args, std::chrono::milliseconds limit) {
  if (args.empty() || args[0].empty()) return {};
  std::vector<char*> argv = c_argv(args);
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return {};
  Fd report(pipe_fds[0]), report_writer(pipe_fds[1]);
  pid_t pid = ::fork();
  if (pid < 0) return {};
  if (pid == 0) {
    ::setpgid(0, 0);
    ::execvp(argv[0], argv.data());
    int error = errno;
    [[maybe_unused]] ssize_t ignored = ::write(pipe_fds[1], &error, sizeof error);
    ::_exit(127);
  }
  // Also here, so that the group exists before the parent could kill it.
  ::setpgid(pid, pid);
  GroupChild child(pid);
  report_writer.reset();
  if (std::optional<int> error = exec_error(report)) {
    child.kill_and_reap();
    return {ProgramRun::End::NotStarted, *error};
  }
  // Real time: the program does not run on the module's (replaceable) clock.
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (std::optional<int> status = child.poll()) return outcome_of(*status);
    if (std::chrono::steady_clock::now() >= deadline) {
      child.kill_and_reap();
      return {ProgramRun::End::TimedOut, SIGKILL};
    }
    DoEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::vector<std::string> split_command_line(const std::string& line) {
  std::vector<std::string> out;
  std::string word;
  bool in_word = false, quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (in_word) out.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) out.push_back(word);
  return out;
}

}  // namespace dexweb::platform
