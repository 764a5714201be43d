#include "tools/schema_location.h"

#include "data/schema_setup.h"
#include "platform/files.h"
#include "util/runtime_error.h"

namespace dexweb::ctl {

std::string find_schema_file(DatabaseKind kind) {
  const std::string name = schema_file_name(kind);
  const std::string exe = platform::executable_path();
  const std::string exe_dir = exe.substr(0, exe.rfind('/') + 1);
  for (const std::string& path : {exe_dir + "schema/" + name, exe_dir + "../share/dexweb/schema/" + name})
    if (is_file(path)) return path;
  throw RuntimeError(err::kFileNotFound, "Schema file " + name + " not found beside " + exe);
}

}  // namespace dexweb::ctl
