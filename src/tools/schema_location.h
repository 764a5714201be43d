#pragma once
// Where the project's schema files are: the "schema" folder beside the executable (the
// build's copy), else the installed share/dexweb/schema of the executable's prefix.

#include <string>

#include "data/dialect.h"

namespace dexweb::ctl {

// The path of the schema file for the kind; raises RuntimeError 53 when none is found.
std::string find_schema_file(DatabaseKind kind);

}  // namespace dexweb::ctl
