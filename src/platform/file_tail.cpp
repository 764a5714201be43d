#include "platform/file_tail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fd.h"

namespace dexweb::platform {

std::string read_file_tail(const std::string& path, std::size_t max_bytes) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  const auto size = static_cast<std::size_t>(st.st_size);
  const std::size_t length = size < max_bytes ? size : max_bytes;
  std::string bytes(length, '\0');
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd.get(), bytes.data() + done, length - done, static_cast<off_t>(size - length + done));
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

}  // namespace dexweb::platform
