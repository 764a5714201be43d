// Placeholder until the error policy lands: every error halts at once.
#include "shell/error_policy.h"

#include <cstdlib>

namespace dexweb {
void errorsub(const RuntimeError&, std::string_view) { std::exit(1); }
void module_errorsub(const RuntimeError&, std::string_view) { std::exit(1); }
}  // namespace dexweb
