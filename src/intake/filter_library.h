#pragma once
// The filter library: RunFilter of a shared library, called with the exchange buffer.

#include <string>

#include "intake/filter_call.h"

namespace dexweb {

// Loads the library, calls RunFilter with the call's buffer and returns the text the filter
// left in the text field; the library is unloaded again. RuntimeError when the library
// cannot be loaded or exports no RunFilter.
std::string call_run_filter(const std::string& library_path, const FilterCall& call);

}  // namespace dexweb
