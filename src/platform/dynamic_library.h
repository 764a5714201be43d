#pragma once
// A shared library loaded for the lifetime of the object.

#include <string>

namespace dexweb::platform {

// What the loader asks of a library file before it maps it, read from its ELF headers.
struct LibraryTraits {
  bool elf = false;               // an ELF file at all
  bool same_machine = false;      // the word size and machine of the running program
  std::string machine;            // the file's machine, e.g. "x86-64", "AArch64", "machine 243"
  bool executable_stack = false;  // it asks for an executable stack (PT_GNU_STACK with PF_X, or none)
};
// Reads the headers of the library at path; RuntimeError (file error) when it cannot be read.
LibraryTraits inspect_library(const std::string& path);

class DynamicLibrary {
 public:
  // Loads the library at path, resolving all its symbols now. RuntimeError 48 with the
  // loader's message when it cannot be loaded.
  //
  // The loader keeps some libraries loaded after they are closed (one with unique C++
  // symbols, or linked with -z nodelete) and hands that copy out again for the same path,
  // also after the file was replaced. With link_folder (a folder of this account alone,
  // ending with '/'), an absolute path is loaded through a link there named after the
  // file's identity, so that the file now at path is what runs, and the same file is
  // mapped only once however often it is loaded. The link is removed again at once.
  explicit DynamicLibrary(const std::string& path, const std::string& link_folder = {});
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
