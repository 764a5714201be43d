#include "platform/process.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

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

// Forks and execs argv[0] (searched in PATH) without a shell, optionally as the leader of
// a process group of its own; -1 when there is nothing to start or fork failed. report gets
// the read end of a pipe on which the child sends its errno if exec fails (see exec_error).
pid_t fork_exec(const std::vector<std::string>& args, bool own_group, Fd& report) {
  if (args.empty() || args[0].empty()) return -1;
  std::vector<char*> argv = c_argv(args);
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
  Fd reader(pipe_fds[0]), writer(pipe_fds[1]);
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (own_group) ::setpgid(0, 0);
    ::execvp(argv[0], argv.data());
    int error = errno;
    [[maybe_unused]] ssize_t ignored = ::write(pipe_fds[1], &error, sizeof error);
    ::_exit(127);
  }
  // Also here, so that the group exists before the parent could kill it.
  if (own_group) ::setpgid(pid, pid);
  report = std::move(reader);
  return pid;
}

void reap_blocking(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

ProgramRun run_and_wait(const std::vector<std::string>& args, std::chrono::milliseconds limit) {
  Fd report;
  const pid_t pid = fork_exec(args, true, report);
  if (pid < 0) return {};
  GroupChild child(pid);
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
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), pidfd_(std::move(other.pidfd_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    running();
    pid_ = std::exchange(other.pid_, -1);
    pidfd_ = std::move(other.pidfd_);
  }
  return *this;
}

ChildProcess::~ChildProcess() { running(); }

ChildProcess ChildProcess::start(const std::vector<std::string>& args) {
  Fd report;
  const pid_t pid = fork_exec(args, false, report);
  if (pid < 0) return {};
  // Taken before anything could reap the child, so the descriptor names this process.
  // glibc 2.36 declares pidfd_open without C linkage for C++: the system call is made directly.
  Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (exec_error(report)) {
    reap_blocking(pid);
    return {};
  }
  return ChildProcess(pid, std::move(pidfd));
}

bool ChildProcess::running() {
  if (pid_ < 0) return false;
  if (pidfd_) {
    siginfo_t info{};
    int r = ::waitid(P_PIDFD, static_cast<id_t>(pidfd_.get()), &info, WEXITED | WNOHANG);
    // ECHILD: something else reaped it, so it has ended all the same.
    if ((r == 0 && info.si_pid == 0) || (r < 0 && errno == EINTR)) return true;
  } else {
    // Kernels without pid descriptors: the pid stays ours until this reaps it.
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0 || (r < 0 && errno == EINTR)) return true;
  }
  pid_ = -1;
  pidfd_.reset();
  return false;
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

bool notify_socket_present() {
  const char* path = std::getenv("NOTIFY_SOCKET");
  return path && (path[0] == '/' || path[0] == '@');
}

bool notify_service_manager(std::string_view state) {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (!path || !notify_socket_present()) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::size_t len = std::strlen(path);
  if (len >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path, len);
  if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';  // abstract namespace
  Fd sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!sock) return false;
  auto addr_len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len);
  return ::sendto(sock.get(), state.data(), state.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&addr), addr_len) >= 0;
}

std::optional<std::chrono::microseconds> watchdog_interval() {
  const char* usec = std::getenv("WATCHDOG_USEC");
  if (!usec || !*usec) return std::nullopt;
  const char* pid = std::getenv("WATCHDOG_PID");
  if (pid && *pid && std::strtol(pid, nullptr, 10) != ::getpid()) return std::nullopt;
  char* end = nullptr;
  const long long value = std::strtoll(usec, &end, 10);
  if (*end != '\0' || value <= 0) return std::nullopt;
  return std::chrono::microseconds(value);
}

bool systemd_running() {
  struct stat st {};
  return ::lstat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

int run_systemctl(const std::string& verb, const std::string& unit) {
  std::vector<std::string> argv = {"systemctl", verb};
  if (!unit.empty()) argv.push_back(unit);
  ProgramRun run = run_and_wait(argv, std::chrono::seconds(60));
  return run.end == ProgramRun::End::Exited ? run.code : -1;
}

bool is_terminal(int fd) { return ::isatty(fd) == 1; }

std::size_t page_size() {
  long size = ::sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<std::size_t>(size) : 0;
}

}  // namespace dexweb::platform
