#include "intake/folder_scan.h"

#include <vector>

#include "intake/intake_call.h"
#include "intake/leftover_files.h"
#include "intake/writer_watch.h"
#include "platform/files.h"

namespace dexweb {

void ListMessageFiles(const std::string& folder, LeftoverFiles& leftovers, WriterWatch& writers, NVPList& files) {
  files.Clear();
  const std::vector<platform::DirEntry> entries = platform::list_files(folder, kMessageFileSuffix);
  std::vector<std::string> present;
  present.reserve(entries.size());
  for (const platform::DirEntry& entry : entries) present.push_back(entry.name);
  leftovers.KeepOnly(folder, present);
  writers.KeepOnly(present);
  for (const platform::DirEntry& entry : entries) {
    if (files.Count() == kMaxListedFiles) break;
    if (leftovers.Count() > 0 && leftovers.Unchanged(folder, entry.name)) continue;
    if (!entry.regular) {
      LeaveNonRegularEntry(folder, entry.name, leftovers);
      continue;
    }
    files.Add(entry.name, platform::to_local(entry.modified));
  }
  files.SortByValue();
}

}  // namespace dexweb
