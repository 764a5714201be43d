#pragma once
// Uniform random numbers for the data layer's waits and draws.

namespace dexweb {

// A number in [0, 1).
double rnd();

}  // namespace dexweb
