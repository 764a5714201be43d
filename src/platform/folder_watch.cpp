#include "platform/folder_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "util/text.h"

namespace dexweb::platform {

std::unique_ptr<FolderWatch> FolderWatch::start(EventLoop& loop, const std::string& folder, std::string_view suffix,
                                                EventLoop::Callback landed) {
  const auto identity = folder_identity(folder);
  if (!identity) return nullptr;
  Fd fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!fd) return nullptr;
  constexpr std::uint32_t kMask = IN_MOVED_TO | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
  if (::inotify_add_watch(fd.get(), folder.c_str(), kMask) < 0) return nullptr;
  // A folder swapped in between the look and the watch is noticed at the next look.
  return std::unique_ptr<FolderWatch>(
      new FolderWatch(loop, std::move(fd), *identity, folder, std::string(suffix), std::move(landed)));
}

FolderWatch::FolderWatch(EventLoop& loop, Fd fd, FileIdentity identity, std::string folder, std::string suffix,
                         EventLoop::Callback landed)
    : loop_(loop),
      fd_(std::move(fd)),
      identity_(identity),
      folder_(std::move(folder)),
      suffix_(std::move(suffix)),
      landed_(std::move(landed)) {
  reader_ = loop_.add_reader(fd_.get(), [this] { read_notices(); });
}

FolderWatch::~FolderWatch() { loop_.remove_reader(reader_); }

void FolderWatch::read_notices() {
  alignas(inotify_event) char buf[16384];
  bool landed = false;
  for (;;) {
    const ssize_t n = ::read(fd_.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      inotify_event event;
      std::memcpy(&event, buf + at, sizeof event);
      const std::string_view name(buf + at + sizeof event, ::strnlen(buf + at + sizeof event, event.len));
      // An overflowed queue lost names: the folder may hold anything.
      if (event.mask & IN_Q_OVERFLOW) landed = true;
      if (event.mask & (IN_IGNORED | IN_MOVE_SELF | IN_DELETE_SELF)) watching_ = false;
      if (name.size() >= suffix_.size() && text::iequals(name.substr(name.size() - suffix_.size()), suffix_))
        landed = true;
      at += static_cast<ssize_t>(sizeof event + event.len);
    }
  }
  if (landed && landed_) landed_();
}

}  // namespace dexweb::platform
