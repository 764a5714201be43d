#include "intake/filter_temp_file.h"

#include <exception>

#include "data/unique_ids.h"
#include "platform/files.h"

namespace dexweb {

FilterTempFile::FilterTempFile(const std::string& temp_folder)
    : path_(temp_folder.empty() ? std::string() : temp_folder + UniqueName() + ".txt") {}

FilterTempFile::~FilterTempFile() {
  try {
    if (!path_.empty()) platform::remove_file(path_);
  } catch (const std::exception&) {
    // A destructor may not throw, and a leftover file in the temporary folder is harmless.
  }
}

}  // namespace dexweb
