#include "platform/folder.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "util/text.h"

namespace dexweb::platform {

std::unique_ptr<FolderWatch> FolderWatch::start(EventLoop& loop, const std::string& folder, std::string_view suffix,
                                                EventLoop::Callback landed) {
  const auto identity = folder_identity(folder);
  if (!identity) return nullptr;
  Fd fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!fd) return nullptr;
  constexpr std::uint32_t kMask = IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE | IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
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
      if (event.mask & IN_Q_OVERFLOW) landed = landed_names_.lost = true;
      if (event.mask & (IN_IGNORED | IN_MOVE_SELF | IN_DELETE_SELF)) watching_ = false;
      if (text::iends_with(name, suffix_))
        keep_name(name, event.mask, landed);
      at += static_cast<ssize_t>(sizeof event + event.len);
    }
  }
  if (landed && landed_) landed_();
}

void FolderWatch::keep_name(std::string_view name, std::uint32_t mask, bool& landed) {
  // A file just created is mostly still being written: its close is the notice to act on.
  if (mask & (IN_MOVED_TO | IN_CLOSE_WRITE)) landed = true;
  if (landed_names_.lost) return;
  if (landed_names_.names.size() >= kKeptNames) {
    landed_names_.names.clear();
    landed_names_.lost = true;
    return;
  }
  landed_names_.names.emplace_back(name);
}

FolderWatch::Landed FolderWatch::take_landed() { return std::exchange(landed_names_, Landed{}); }

}  // namespace dexweb::platform
