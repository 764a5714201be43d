#pragma once
// The scan of the watched folder: which message files one poll takes, and in what order.

#include <string>

#include "util/nvp_list.h"

namespace dexweb {

namespace platform {
class Folder;
}
class FolderIndex;
class LeftoverFiles;
class WriterWatch;

inline constexpr int kMaxListedFiles = 100;
inline constexpr const char* kMessageFileSuffix = ".msg";

// The files a scan passed over because their writers may not have finished.
struct PassedOver {
  int holding = 0;   // held open by their writers: the folder watch tells when they close
  int settling = 0;  // still to be looked at again (writers the module cannot ask)
};

// Fills files (emptied first) with the first kMaxListedFiles ".msg" files of folder whose
// writers have finished, each name with its modification time (local) as the value, then
// sorts them oldest first. The files are the oldest of the folder when index is given (kept
// by the folder watch), else the first in directory order: the folder is read no further. The writer test comes first: files still being written are passed over and do not
// count. It waits for a writer that the module cannot ask at most wait_left seconds in all
// (taken from it). Leftover files (worked but not deleted, unreadable, kept for their bad
// copy) are passed over while unchanged and forgotten once gone; links and other entries
// that are no plain files are logged once and never listed, nor looked at again while the
// listing shows them unchanged. Raises RuntimeError when the folder cannot be listed.
PassedOver list_message_files(const platform::Folder& folder, LeftoverFiles& leftovers, WriterWatch& writers,
                              double& wait_left, NVPList& files, FolderIndex* index = nullptr);

}  // namespace dexweb
