#include "util/runtime_error.h"

namespace dexweb {

RuntimeError::RuntimeError(int number, std::string description, std::string source)
    : std::runtime_error(description),
      number_(number),
      description_(std::move(description)),
      source_(std::move(source)) {}

}  // namespace dexweb
