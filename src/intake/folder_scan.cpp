#include "intake/folder_scan.h"

#include <vector>

#include "intake/folder_index.h"

#include "intake/internal/intake_call.h"
#include "intake/internal/intake_log.h"
#include "intake/leftover_files.h"
#include "intake/writer_watch.h"
#include "logging/log_event.h"
#include "platform/folder.h"

namespace dexweb {
namespace {

using Writer = WriterWatch::Writer;

// The writer's state, waiting out a writer the module cannot ask while the allowance lasts.
Writer writer_of(const platform::FolderEntry& entry, const std::string& name, WriterWatch& writers, double& wait_left) {
  for (;;) {
    const Writer writer = writers.writer(entry, name);
    if (writer != Writer::Settling || wait_left <= 0) return writer;
    wait_or_stop(kWriterPollSeconds);
    wait_left -= kWriterPollSeconds;
  }
}

void report_passed_over(WriterWatch& writers, const std::string& name) {
  if (writers.first_report(name)) log_detail("Web file still open by its writer, left for a later poll: " + name);
}

}  // namespace

PassedOver list_message_files(const platform::Folder& folder, LeftoverFiles& leftovers, WriterWatch& writers,
                              double& wait_left, NVPList& files, FolderIndex* index) {
  const std::string& path = folder.path();
  files.Clear();
  leftovers.forget_gone(path);
  writers.forget_gone(path);
  PassedOver passed;
  bool whole = true;
  std::vector<std::string> gone;
  auto visit = [&](const platform::Folder::Listed& listed) {
    const std::string& name = listed.name;
    // The walk ends with the last file a poll may take: a large backlog costs each poll only
    // the entries it takes, not a listing of the whole folder.
    if (files.Count() >= kMaxListedFiles) return whole = false;
    if (leftovers.known_not_regular(path, name, listed.inode)) return true;
    if (!listed.maybe_regular) {
      leave_non_regular_entry(path, name, listed.inode, leftovers);
      return true;
    }
    const auto entry = platform::FolderEntry::open_at(folder.fd(), name, path + name);
    using Status = platform::FolderEntry::Status;
    if (entry.status() == Status::Gone) {
      gone.push_back(name);
      return true;
    }
    if (entry.status() == Status::NotRegular) {
      leave_non_regular_entry(path, name, listed.inode, leftovers);
      return true;
    }
    const auto stamp = entry.status() == Status::Opened ? entry.current_stamp() : folder.stamp(name);
    if (!stamp || (leftovers.count() > 0 && leftovers.unchanged(path, name, *stamp))) return true;
    if (entry.status() == Status::Opened) {
      const Writer writer = writer_of(entry, name, writers, wait_left);
      if (writer != Writer::Done) {
        ++(writer == Writer::Holding ? passed.holding : passed.settling);
        report_passed_over(writers, name);
        return true;
      }
      writers.forget(name);
    }
    files.Add(name, platform::to_local(stamp->modified));
    return true;
  };
  if (index) {
    whole = index->visit(folder, visit) && whole;
    for (const std::string& name : gone) index->forget(name);
  } else {
    folder.walk(kMessageFileSuffix, visit);
  }
  if (whole) leftovers.walked_whole(path);
  files.SortByValue();
  return passed;
}

}  // namespace dexweb
