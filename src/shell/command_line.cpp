#include "shell/command_line.h"

#include <tuple>

#include "util/text.h"

namespace dexweb {
namespace {

// Text before the first blank and the trimmed rest; the rest is empty without a blank.
std::pair<std::string, std::string> split_first(const std::string& s) {
  auto blank = s.find(' ');
  if (blank == std::string::npos) return {s, {}};
  return {text::trim(s.substr(0, blank)), text::trim(s.substr(blank + 1))};
}

}  // namespace

CommandLine parse_command_line(std::string_view whole) {
  CommandLine cl;
  std::string rest;
  std::tie(cl.option, rest) = split_first(text::trim(whole));
  if (!rest.empty()) {
    std::tie(cl.account, cl.password) = split_first(rest);
    if (cl.account.find('\\') == std::string::npos) cl.account = ".\\" + cl.account;
    cl.account_given = true;
  }
  return cl;
}

std::string join_arguments(int argc, char** argv) {
  std::string whole;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) whole += ' ';
    whole += argv[i];
  }
  return whole;
}

}  // namespace dexweb
