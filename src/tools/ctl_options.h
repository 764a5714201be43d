#pragma once
// The options of a dexwebctl command: "--name value" pairs and plain words.

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace dexweb::ctl {

// A command line that dexwebctl cannot take (exit status 2).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Options {
 public:
  // args are the words after the command; flags are options that take no value. Raises
  // UsageError for an option outside allowed and flags, an option without its value, or an
  // option given twice.
  Options(const std::vector<std::string>& args, const std::vector<std::string>& allowed,
          const std::vector<std::string>& flags = {});

  std::optional<std::string> get(const std::string& name) const;
  // True when the flag was given.
  bool has(const std::string& flag) const { return values_.contains(flag); }
  // Raises UsageError when the option is missing.
  std::string require(const std::string& name) const;
  // The option as a whole number in [min, max]; nullopt when missing. Raises UsageError
  // for anything else.
  std::optional<long> number(const std::string& name, long min, long max) const;
  const std::vector<std::string>& words() const { return words_; }

 private:
  std::map<std::string, std::string> values_;
  std::vector<std::string> words_;
};

}  // namespace dexweb::ctl
