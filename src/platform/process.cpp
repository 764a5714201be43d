#include "platform/process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace dexweb::platform {
namespace {

// execvp's view of args; built before fork, since the child may only call exec and _exit.
std::vector<char*> c_argv(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
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

int run_and_wait(const std::vector<std::string>& args) {
  if (args.empty() || args[0].empty()) return -1;
  std::vector<char*> argv = c_argv(args);
  pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
