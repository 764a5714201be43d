#pragma once
// Uniform random numbers for the module's waits and draws.

#include <cstdint>

namespace dexweb {

// A number in [0, 1).
double rnd();
// 64 bits from the system's source of randomness, for names that must differ from every
// other process's.
std::uint64_t random_bits();

}  // namespace dexweb
