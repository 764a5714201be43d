#pragma once
// Where the project's schema files are: the build's schema folder, else a "schema" folder
// beside or above the executable.

#include <string>

#include "data/dialect.h"

namespace dexweb::ctl {

// The path of the schema file for the kind; raises RuntimeError 53 when none is found.
std::string find_schema_file(DatabaseKind kind);

}  // namespace dexweb::ctl
