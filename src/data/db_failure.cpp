#include "data/internal/db_failure.h"

#include <utility>

namespace dexweb {

DbFailure::DbFailure(int number, std::string description, std::vector<std::string> engine_errors,
                     std::string source)
    : std::runtime_error(description),
      number_(number),
      description_(std::move(description)),
      engine_errors_(std::move(engine_errors)),
      source_(std::move(source)) {}

}  // namespace dexweb
