#include "util/random.h"

#include <random>

namespace dexweb {

double rnd() {
  static std::mt19937_64 engine{std::random_device{}()};
  return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
}

std::uint64_t random_bits() {
  std::random_device source;
  return (std::uint64_t{source()} << 32) ^ source();
}

}  // namespace dexweb
