// The module's command line: the arguments (NUL-separated in the input) joined by blanks,
// split into option, account and password; and the escape decoding of settings texts, fed
// the same bytes.

#include <vector>

#include "fuzz_support.h"
#include "shell/startup.h"
#include "util/text.h"

namespace {

using dexweb::fuzz::require;
namespace text = dexweb::text;

bool trimmed(std::string_view s) { return s.empty() || (s.front() != ' ' && s.back() != ' '); }

void check_command_line(std::string_view input) {
  std::vector<std::string> arguments{"dexweb"};
  for (std::size_t start = 0; start <= input.size();) {
    std::size_t end = std::min(input.find('\0', start), input.size());
    arguments.emplace_back(input.substr(start, end - start));
    start = end + 1;
  }
  std::vector<char*> argv;
  std::string expected;
  for (std::string& argument : arguments) {
    if (!argv.empty()) expected += (argv.size() > 1 ? " " : "") + argument;
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  const std::string whole = dexweb::join_arguments(static_cast<int>(arguments.size()), argv.data());
  require(whole == expected, "the arguments are joined by single blanks");

  const dexweb::CommandLine cl = dexweb::parse_command_line(whole);
  require(cl.option.find(' ') == std::string::npos, "the option is one word");
  require(trimmed(cl.option) && trimmed(cl.password), "option and password are trimmed");
  if (!cl.account_given) {
    require(cl.account.empty() && cl.password.empty(), "no account, no password");
    require(cl.option == text::trim(whole), "without an account the option is the whole line");
  } else {
    require(cl.account.find('\\') != std::string::npos, "an account names its domain");
    require(cl.account.find(' ') == std::string::npos, "the account is one word");
  }
}

// Every character of text that has a Windows-1252 code, written as its escape.
std::string escaped(std::string_view utf8, std::string& plain) {
  std::string out;
  for (char32_t cp : text::to_u32(utf8)) {
    const int code = text::code_1252(cp);
    if (code < 0) continue;
    text::append_utf8(plain, cp);
    out += '\\';
    out += static_cast<char>('0' + code / 100);
    out += static_cast<char>('0' + code / 10 % 10);
    out += static_cast<char>('0' + code % 10);
  }
  return out;
}

std::size_t characters(std::string_view bytes) {
  std::size_t n = 0;
  for (char c : bytes) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return n;
}

void check_escapes(std::string_view input) {
  const std::string decoded = dexweb::decode_escapes(input);
  if (input.find('\\') == std::string_view::npos) require(decoded == input, "text without a backslash is kept");
  require(characters(decoded) <= characters(input), "decoding never lengthens the text");

  std::string plain;
  const std::string encoded = escaped(text::decode_bytes(input), plain);
  require(dexweb::decode_escapes(encoded) == plain, "escaping every character and decoding gives it back");
}

}  // namespace

void dexweb::fuzz::fuzz_input(std::string_view input) {
  check_command_line(input);
  check_escapes(input);
}
