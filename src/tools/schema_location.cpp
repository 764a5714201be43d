#include "tools/schema_location.h"

#include <vector>

#include "data/schema_setup.h"
#include "platform/file_helpers.h"
#include "platform/files.h"
#include "util/runtime_error.h"

namespace dexweb::ctl {

std::string find_schema_file(DatabaseKind kind) {
  const std::string name = schema_file_name(kind);
  const std::string exe = platform::executable_path();
  const std::string exe_dir = exe.substr(0, exe.rfind('/') + 1);
  std::vector<std::string> candidates;
#ifdef DEXWEB_SCHEMA_DIR
  candidates.push_back(std::string(DEXWEB_SCHEMA_DIR) + "/" + name);
#endif
  candidates.push_back(exe_dir + "schema/" + name);
  candidates.push_back(exe_dir + "../schema/" + name);
  candidates.push_back(exe_dir + "../share/dexweb/schema/" + name);
  for (const std::string& path : candidates)
    if (is_file(path)) return path;
  throw RuntimeError(err::kFileNotFound, "Schema file " + name + " not found beside " + exe);
}

}  // namespace dexweb::ctl
