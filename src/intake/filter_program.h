#pragma once
// The filter program: started directly (no shell) with one argument per item,
//   settingsfile=PATH [debugfile=PATH [debugappend=true]] FILE
// and waited for with a bound. It changes or deletes FILE in place; its exit status is not
// part of the contract.

#include <chrono>
#include <string>

#include "intake/filter_call.h"

namespace dexweb {

// Runs the program and waits for it at most limit. RuntimeError when it could not be
// started, was ended by a signal, or had to be stopped at the limit.
void run_filter_program(const std::string& program, const FilterCall& call, std::chrono::seconds limit);

}  // namespace dexweb
