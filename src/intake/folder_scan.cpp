#include "intake/folder_scan.h"

#include "intake/internal/intake_call.h"
#include "intake/leftover_files.h"
#include "intake/writer_watch.h"
#include "platform/folder_listing.h"

namespace dexweb {

void list_message_files(const std::string& folder, LeftoverFiles& leftovers, WriterWatch& writers, NVPList& files) {
  files.Clear();
  leftovers.forget_gone(folder);
  writers.forget_gone(folder);
  // The walk ends with the last file a poll may take: a large backlog costs each poll only
  // the entries it takes, not a listing of the whole folder.
  platform::walk_folder(folder, kMessageFileSuffix, [&](const std::string& name, const platform::FileStamp& stamp) {
    if (leftovers.count() > 0 && leftovers.unchanged(folder, name, stamp)) return true;
    if (!stamp.regular) {
      leave_non_regular_entry(folder, name, leftovers);
      return true;
    }
    files.Add(name, platform::to_local(stamp.modified));
    return files.Count() < kMaxListedFiles;
  });
  files.SortByValue();
}

}  // namespace dexweb
