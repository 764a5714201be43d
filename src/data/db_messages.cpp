#include "data/internal/db_messages.h"

#include "config/globals.h"
#include "util/runtime_error.h"

namespace dexweb {

std::string signed_number(int n) { return (n >= 0 ? " " : "") + std::to_string(n); }

std::string with_engine_lines(const std::string& description, const std::vector<std::string>& lines) {
  std::string out = description;
  for (const auto& line : lines) out += "\r\n" + line;
  return out;
}

void raise_final(int number, std::string description, std::string source) {
  globals().retry_count = 100;
  globals().retry_round = 100;
  throw RuntimeError(number, std::move(description), std::move(source));
}

}  // namespace dexweb
