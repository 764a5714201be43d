#pragma once
// Uniform random numbers for the module's waits and draws.

#include <cstdint>
#include <random>

namespace dexweb {

// A number in [0, 1).
inline double rnd() {
  static std::mt19937_64 engine{std::random_device{}()};
  return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
}

// 64 bits from the system's source of randomness, for names that must differ from every
// other process's.
inline std::uint64_t random_bits() {
  std::random_device source;
  return (std::uint64_t{source()} << 32) ^ source();
}

}  // namespace dexweb
