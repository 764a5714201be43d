#pragma once
// The scan of the watched folder: which message files one poll takes, and in what order.

#include <string>

#include "util/nvp_list.h"

namespace dexweb {

class LeftoverFiles;
class WriterWatch;

inline constexpr int kMaxListedFiles = 100;
inline constexpr const char* kMessageFileSuffix = ".msg";

// Fills files (emptied first) with the first kMaxListedFiles ".msg" files of folder in
// directory order, each name with its modification time (local) as the value, then sorts
// them oldest first; the folder is read no further than that. Leftover files (worked but
// not deleted, unreadable, kept for their bad copy) are passed over while unchanged and
// forgotten once gone; links and other entries that are no plain files are logged once and
// never listed. Raises RuntimeError when the folder cannot be listed.
void list_message_files(const std::string& folder, LeftoverFiles& leftovers, WriterWatch& writers, NVPList& files);

}  // namespace dexweb
