#include "data/internal/db_messages.h"

#include "util/runtime_error.h"

namespace dexweb {

std::string signed_number(int n) { return (n >= 0 ? " " : "") + std::to_string(n); }

std::string with_engine_lines(const std::string& description, const std::vector<std::string>& lines) {
  std::string out = description;
  for (const auto& line : lines) out += "\r\n" + line;
  return out;
}

void raise_final(int number, std::string description, std::string source) {
  throw RuntimeError(number, std::move(description), std::move(source)).mark_final();
}

}  // namespace dexweb
