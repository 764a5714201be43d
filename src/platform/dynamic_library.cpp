#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <utility>

#include "platform/file_identity.h"
#include "util/runtime_error.h"

namespace dexweb::platform {
namespace {

constexpr int kErrLoadingLibrary = 48;
constexpr int kErrNoEntryPoint = 453;

// The loader's message, naming path where it names the link loaded in its place.
std::string loader_message(const std::string& loaded, const std::string& path) {
  const char* message = ::dlerror();
  std::string text = message ? message : "unknown error";
  for (std::size_t at; loaded != path && (at = text.find(loaded)) != std::string::npos;)
    text.replace(at, loaded.size(), path);
  return text;
}

// The loader finds a library it has loaded by the name it was given before it looks at the
// file; a name that changes with the file makes it look at the file, and it then matches
// loaded copies by device and inode. Empty when path is loaded directly.
std::string identity_link(const std::string& path, const std::string& link_folder) {
  if (link_folder.empty() || !path.starts_with('/')) return {};
  const std::optional<FileIdentity> id = file_identity(path);
  if (!id) return {};
  const std::string link = link_folder + path.substr(path.rfind('/') + 1) + "." + std::to_string(id->device) + "." +
                           std::to_string(id->inode);
  ::unlink(link.c_str());
  return ::symlink(path.c_str(), link.c_str()) == 0 ? link : std::string();
}

}  // namespace

DynamicLibrary::DynamicLibrary(const std::string& path, const std::string& link_folder) : path_(path) {
  const std::string link = identity_link(path, link_folder);
  const std::string& loaded = link.empty() ? path : link;
  handle_ = ::dlopen(loaded.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!link.empty()) ::unlink(link.c_str());
  if (!handle_) throw RuntimeError(kErrLoadingLibrary, "Error in loading DLL " + path + ": " + loader_message(loaded, path));
}

DynamicLibrary::~DynamicLibrary() {
  if (handle_) ::dlclose(handle_);
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), path_(std::move(other.path_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_) ::dlclose(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    path_ = std::move(other.path_);
  }
  return *this;
}

void* DynamicLibrary::symbol(const std::string& name) const {
  ::dlerror();
  void* address = ::dlsym(handle_, name.c_str());
  if (!address) throw RuntimeError(kErrNoEntryPoint, "Can't find DLL entry point " + name + " in " + path_);
  return address;
}

}  // namespace dexweb::platform
