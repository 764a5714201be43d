#pragma once
// Texts and the final raise shared by DBObject's open and its operations.

#include <string>
#include <vector>

namespace dexweb {

// The error number as the log lines write it: a blank before a number that is not negative.
std::string signed_number(int n);
// description, then each engine line after a CR LF.
std::string with_engine_lines(const std::string& description, const std::vector<std::string>& lines);
// Raises RuntimeError marked final: the operation's own retries are spent, so the error
// routine halts at once.
[[noreturn]] void raise_final(int number, std::string description, std::string source);

}  // namespace dexweb
