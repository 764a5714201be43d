#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <utility>

#include "util/runtime_error.h"

namespace dexweb::platform {
namespace {

constexpr int kErrLoadingLibrary = 48;
constexpr int kErrNoEntryPoint = 453;

std::string loader_message() {
  const char* message = ::dlerror();
  return message ? message : "unknown error";
}

}  // namespace

DynamicLibrary::DynamicLibrary(const std::string& path) : path_(path) {
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) throw RuntimeError(kErrLoadingLibrary, "Error in loading DLL " + path + ": " + loader_message());
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
