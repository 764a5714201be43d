#pragma once
// The interface filter's temporary file.

#include <string>

namespace dexweb {

// temp_folder + UniqueName() + ".txt", in the module's private temporary folder; the name
// is empty when there is no such folder (the filter step then fails). The file is removed
// when the object goes, whatever the filter did with it.
class FilterTempFile {
 public:
  explicit FilterTempFile(const std::string& temp_folder);
  ~FilterTempFile();
  FilterTempFile(const FilterTempFile&) = delete;
  FilterTempFile& operator=(const FilterTempFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace dexweb
