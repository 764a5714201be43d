#pragma once
// Notice of files landing in a folder: a file renamed into it or closed after writing there
// whose name ends with a given suffix (without regard to case). The watch runs on the event
// loop: `landed` runs on the loop's thread once per batch of notices read together, however
// many files the batch names, so a burst of arrivals makes few calls. The names are kept
// for take_landed(), with those of files created there (a hard link lands so).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event_loop.h"
#include "platform/fd.h"
#include "platform/file_identity.h"

namespace dexweb::platform {

class FolderWatch {
 public:
  // nullptr when the folder cannot be watched (missing, a file system without notices such
  // as many network shares, the user's watch limit reached): the caller falls back on its
  // timer. Never throws.
  static std::unique_ptr<FolderWatch> start(EventLoop& loop, const std::string& folder, std::string_view suffix,
                                            EventLoop::Callback landed);
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  const std::string& folder() const { return folder_; }
  // The folder watched (a final link is never followed): when the path comes to name
  // another folder (the watched one renamed away, a new one made), the watch is stale.
  FileIdentity identity() const { return identity_; }
  // False once the folder went away (deleted, moved, unmounted): no more notices come.
  bool watching() const { return watching_; }

  // The names of the files that landed or were created since the last call (a name may come
  // twice), and whether names were lost (the notice queue overflowed, or more than
  // kKeptNames waited): then only a listing tells what the folder holds.
  struct Landed {
    std::vector<std::string> names;
    bool lost = false;
  };
  Landed take_landed();
  static constexpr std::size_t kKeptNames = 100000;

 private:
  FolderWatch(EventLoop& loop, Fd fd, FileIdentity identity, std::string folder, std::string suffix,
              EventLoop::Callback landed);
  void read_notices();
  void keep_name(std::string_view name, std::uint32_t mask, bool& landed);

  EventLoop& loop_;
  Fd fd_;
  FileIdentity identity_;
  std::string folder_;
  std::string suffix_;
  EventLoop::Callback landed_;
  EventLoop::ReaderId reader_ = 0;
  bool watching_ = true;
  Landed landed_names_;
};

}  // namespace dexweb::platform
