#pragma once
// A failure reported by a database engine, already numbered in the module's numbering (the
// error routine classifies by number: 3000..3799, with the transient ones on its retryable
// list). The data layer's retry policy catches these; what leaves DBObject is RuntimeError.

#include <stdexcept>
#include <string>
#include <vector>

namespace dexweb {

class DbFailure : public std::runtime_error {
 public:
  DbFailure(int number, std::string description, std::vector<std::string> engine_errors,
            std::string source);

  int number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }
  // The engine's error collection, one text per entry, in the engine's order.
  const std::vector<std::string>& engine_errors() const noexcept { return engine_errors_; }
  const std::string& source() const noexcept { return source_; }

 private:
  int number_;
  std::string description_;
  std::vector<std::string> engine_errors_;
  std::string source_;
};

}  // namespace dexweb
