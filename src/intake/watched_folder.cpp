#include "intake/watched_folder.h"

#include <cerrno>
#include <chrono>
#include <iterator>
#include <utility>

#include "intake/internal/intake_call.h"
#include "intake/internal/intake_log.h"
#include "intake/leftover_files.h"
#include "logging/log_event.h"

namespace dexweb {

void WatchedFolder::refuse(const std::string& text) {
  if (text == refused_) return;
  refused_ = text;
  warn_general(text);
}

platform::Folder WatchedFolder::open(const std::string& path, bool first_poll) {
  if (path != path_) {
    path_ = path;
    real_.clear();
    refused_.clear();
  }
  int error = 0;
  platform::Folder folder = platform::Folder::open(path, error);
  if (error == ELOOP) {
    refuse("The watched folder is a link, not a folder, and is left alone: " + path);
    return {};
  }
  if (!folder) {
    if (first_poll) warn_general("Unable to access folder: " + path);
    return {};
  }
  const std::string real = folder.real_path();
  if (real_.empty()) real_ = real;
  if (real != real_) {
    refuse("The watched folder now leads to " + real + " instead of " + real_ + " and is left alone: " + path);
    return {};
  }
  refused_.clear();
  return folder;
}

WriterWatch::Writer WriterWatch::writer(const platform::FolderEntry& entry, const std::string& name) {
  switch (entry.writer()) {
    case platform::WriterState::Closed: return Writer::Done;
    case platform::WriterState::Open: return Writer::Holding;
    case platform::WriterState::Unknown: break;
  }
  const auto stamp = entry.current_stamp();
  if (!stamp) return Writer::Settling;
  const platform::SteadyPoint now = platform::clock().steady_now();
  auto [look, first] = looks_.try_emplace(name, Look{*stamp, now});
  if (first || look->second.stamp != *stamp) {
    look->second.stamp = *stamp;
    look->second.at = now;
    return Writer::Settling;
  }
  return now - look->second.at < std::chrono::duration<double>(kQuietSeconds) ? Writer::Settling : Writer::Done;
}

bool WriterWatch::first_report(const std::string& name) {
  Look& look = looks_[name];
  return !std::exchange(look.reported, true);
}

void WriterWatch::forget(const std::string& name) { looks_.erase(name); }

void WriterWatch::forget_gone(const std::string& folder) {
  std::erase_if(looks_, [&](const auto& entry) { return !platform::stamp_entry(folder + entry.first); });
}

void FolderIndex::landed(std::vector<std::string> names) {
  if (landed_.empty()) landed_ = std::move(names);
  else landed_.insert(landed_.end(), names.begin(), names.end());
}

void FolderIndex::forget(const std::string& name) {
  const auto found = ages_.find(name);
  if (found == ages_.end()) return;
  entries_.erase(Entry{found->second, name});
  ages_.erase(found);
}

void FolderIndex::add(Entry entry) {
  if (entries_.size() >= kIndexedFiles) {
    more_ = true;
    if (!(entry < *entries_.rbegin())) return;
    const auto newest = std::prev(entries_.end());
    ages_.erase(newest->name);
    entries_.erase(newest);
  }
  ages_.emplace(entry.name, entry.modified);
  entries_.insert(std::move(entry));
}

void FolderIndex::look_at(const platform::Folder& folder, const std::string& name) {
  forget(name);
  if (const auto stamp = folder.stamp(name)) add({stamp->modified, name, stamp->inode, stamp->regular});
}

void FolderIndex::list(const platform::Folder& folder) {
  entries_.clear();
  ages_.clear();
  landed_.clear();
  more_ = false;
  folder.walk(kMessageFileSuffix, [&](const platform::Folder::Listed& listed) {
    if (const auto stamp = folder.stamp(listed.name))
      add({stamp->modified, listed.name, listed.inode, listed.maybe_regular && stamp->regular});
    return true;
  });
  stale_ = false;
}

bool FolderIndex::visit(const platform::Folder& folder,
                        const std::function<bool(const platform::Folder::Listed&)>& each) {
  if (stale_) list(folder);
  for (const std::string& name : std::exchange(landed_, {})) look_at(folder, name);
  bool relisted = false;
  auto at = entries_.begin();
  for (;;) {
    for (; at != entries_.end(); ++at)
      if (!each({at->name, at->inode, at->regular})) return false;
    // The entries kept are all seen: the rest of the folder is newer than they were.
    if (!more_ || relisted) return !more_;
    const Entry last = *entries_.rbegin();  // more_ is set only when entries_ is full
    list(folder);
    relisted = true;
    at = entries_.upper_bound(last);
  }
}

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
    const auto stamp = entry.status() == Status::Opened ? std::optional(entry.stamp()) : folder.stamp(name);
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
