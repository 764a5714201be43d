#pragma once
// A shared library loaded for the lifetime of the object.

#include <string>

namespace dexweb::platform {

class DynamicLibrary {
 public:
  // Loads the library at path, resolving all its symbols now. RuntimeError 48 with the
  // loader's message when it cannot be loaded.
  explicit DynamicLibrary(const std::string& path);
  ~DynamicLibrary();
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The address of an exported function; RuntimeError 453 when the library has none of
  // that name. The address is valid while this object lives.
  template <typename Function>
  Function* function(const std::string& name) const {
    return reinterpret_cast<Function*>(symbol(name));
  }

 private:
  void* symbol(const std::string& name) const;

  void* handle_ = nullptr;
  std::string path_;
};

}  // namespace dexweb::platform
