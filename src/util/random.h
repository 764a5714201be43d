#pragma once
// Uniform random numbers for the module's waits and draws.

namespace dexweb {

// A number in [0, 1).
double rnd();

}  // namespace dexweb
