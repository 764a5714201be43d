#pragma once
// The watched folder as each poll finds it: the folder configured, opened once per poll
// without following a final link, and worked through that descriptor. A link in its place,
// or a folder that now lies elsewhere than where it lay at the run's first look (a link
// above it changed), is refused: one line in the log and on standard error each time the
// refusal changes, and nothing there is touched. A folder renamed away and made anew in
// its place is the configured folder again (the poll cycle watches the new one).

#include <string>

#include "platform/folder.h"

namespace dexweb {

class WatchedFolder {
 public:
  // The folder at path (ending with '/') for this poll; an empty object when it cannot be
  // reached ("Unable to access folder: " logged when first_poll) or is refused.
  platform::Folder open(const std::string& path, bool first_poll);

 private:
  void refuse(const std::string& text);

  std::string path_;     // the configured path of the folder below
  std::string real_;     // where it lay at the first look
  std::string refused_;  // the refusal last reported
};

}  // namespace dexweb
