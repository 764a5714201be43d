#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <elf.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "platform/files.h"
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

// Enough of a file for its ELF header and, in nearly every library, its program headers.
constexpr std::size_t kHeadBytes = 64 * 1024;

std::string machine_name(unsigned machine) {
  switch (machine) {
    case EM_X86_64: return "x86-64";
    case EM_386: return "i386";
    case EM_AARCH64: return "AArch64";
    case EM_ARM: return "ARM";
    case EM_RISCV: return "RISC-V";
    case EM_PPC64: return "PowerPC64";
    case EM_S390: return "s390x";
    default: return "machine " + std::to_string(machine);
  }
}

template <typename Header, typename ProgramHeader>
void read_headers(const std::string& path, std::string bytes, LibraryTraits& traits, unsigned& machine) {
  if (bytes.size() < sizeof(Header)) return;
  Header header;
  std::memcpy(&header, bytes.data(), sizeof header);
  machine = header.e_machine;
  traits.machine = machine_name(machine);
  const std::size_t end = header.e_phoff + std::size_t{header.e_phnum} * sizeof(ProgramHeader);
  if (header.e_phentsize != sizeof(ProgramHeader)) return;
  if (end > bytes.size()) bytes = read_file(path, end);
  bool stack_seen = false;
  for (std::size_t i = 0; i < header.e_phnum && header.e_phoff + (i + 1) * sizeof(ProgramHeader) <= bytes.size(); ++i) {
    ProgramHeader ph;
    std::memcpy(&ph, bytes.data() + header.e_phoff + i * sizeof ph, sizeof ph);
    if (ph.p_type != PT_GNU_STACK) continue;
    stack_seen = true;
    traits.executable_stack = (ph.p_flags & PF_X) != 0;
  }
  // Without the header the loader gives the library the old default: an executable stack.
  if (!stack_seen) traits.executable_stack = true;
}

struct ElfIdentity {
  LibraryTraits traits;
  unsigned char word_size = 0;
  unsigned machine = 0;
};

ElfIdentity identify(const std::string& path) {
  ElfIdentity id;
  const std::string bytes = read_file(path, kHeadBytes);
  if (bytes.size() < EI_NIDENT || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0) return id;
  id.traits.elf = true;
  id.word_size = static_cast<unsigned char>(bytes[EI_CLASS]);
  if (id.word_size == ELFCLASS64) read_headers<Elf64_Ehdr, Elf64_Phdr>(path, bytes, id.traits, id.machine);
  else if (id.word_size == ELFCLASS32) read_headers<Elf32_Ehdr, Elf32_Phdr>(path, bytes, id.traits, id.machine);
  return id;
}

}  // namespace

LibraryTraits inspect_library(const std::string& path) {
  ElfIdentity library = identify(path);
  static const ElfIdentity self = identify("/proc/self/exe");
  library.traits.same_machine = library.traits.elf && library.word_size == self.word_size && library.machine == self.machine;
  if (library.traits.elf && library.word_size != self.word_size && library.word_size == ELFCLASS32)
    library.traits.machine += " (32-bit)";
  return library.traits;
}

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
