#pragma once
// The module's entry: settings, command line, single instance, and the start as a program
// or under the service manager.

#include <string>
#include <string_view>

namespace dexweb {

class Daemon;

// The module's command line: nothing, "install [account [password]]" or "uninstall".
// Option words are case-sensitive.
struct CommandLine {
  std::string option;
  std::string account;   // ".\" put in front when it has no backslash
  std::string password;
  bool account_given = false;
};

// Splits the whole command line (arguments joined by blanks): the option word before the
// first blank, the account before the next, the password is everything after that, trimmed.
CommandLine parse_command_line(std::string_view whole);
// The arguments after the program name, joined by single blanks.
std::string join_arguments(int argc, char** argv);

// Runs the module and returns its exit status: 0 after a normal stop, 1 after a halt or a
// refusal, 2 for an invalid command-line option. The command line "--version" alone prints
// "dexweb VERSION" and returns 0 without touching the home.
int run_daemon(int argc, char** argv);

// Module start, in both modes: the start-up line, the log flush, the poll timer on. False
// when that failed (the line "Error: ... in main2" was logged): the run ends with status 1.
bool start_module(Daemon& daemon);

// The module's version as "major.minor.revision".
std::string_view module_version();

// A refusal at start: written to the module's log file and to standard error.
void refuse(std::string_view text);

}  // namespace dexweb
