#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace dexweb::fuzz {
namespace {

// Owns the folder; its destructor runs at normal exit, after the last input.
class PrivateFolder {
 public:
  PrivateFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/dexweb-fuzz-XXXXXX";
    require(mkdtemp(pattern.data()) != nullptr, "mkdtemp makes the private folder");
    path_ = pattern + "/";
  }
  ~PrivateFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

void require(bool ok, const char* property) {
  if (ok) return;
  std::fprintf(stderr, "dexweb fuzz: property violated: %s\n", property);
  std::fflush(stderr);
  std::abort();
}

const std::string& private_folder() {
  static const PrivateFolder folder;
  return folder.path();
}

std::string write_input_file(std::string_view name, std::string_view bytes) {
  std::string path = private_folder() + std::string(name);
  // A new file rather than a truncated one: ext4 flushes a file replaced by truncation to
  // disk on close, which would make each run wait for the disk.
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  require(out.good(), "the input file is written");
  return path;
}

std::vector<std::string_view> take_lines(std::string_view input, std::size_t count) {
  std::vector<std::string_view> parts;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t end = input.find('\n');
    parts.push_back(input.substr(0, end));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
  }
  parts.push_back(input);
  return parts;
}

bool is_printable_ascii(std::string_view text) {
  for (char c : text)
    if (c < ' ' || c > '~') return false;
  return true;
}

}  // namespace dexweb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dexweb::fuzz::fuzz_input(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
