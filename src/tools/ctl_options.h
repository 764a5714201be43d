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
  // args are the words after the command. Raises UsageError for an option outside allowed,
  // an option without its value, or an option given twice.
  Options(const std::vector<std::string>& args, const std::vector<std::string>& allowed);

  std::optional<std::string> get(const std::string& name) const;
  // Raises UsageError when the option is missing.
  std::string require(const std::string& name) const;
  const std::vector<std::string>& words() const { return words_; }

 private:
  std::map<std::string, std::string> values_;
  std::vector<std::string> words_;
};

}  // namespace dexweb::ctl
