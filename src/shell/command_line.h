#pragma once
// The module's command line: nothing, "install [account [password]]" or "uninstall".
// Option words are case-sensitive.

#include <string>
#include <string_view>

namespace dexweb {

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

}  // namespace dexweb
