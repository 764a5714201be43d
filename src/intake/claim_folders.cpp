#include "intake/claim_folders.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "intake/internal/intake_log.h"
#include "platform/clock.h"
#include "util/datetime.h"
#include "util/random.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

constexpr const char* kLockName = "lock";
constexpr std::size_t kStampLength = 14;  // yyyymmddhhnnss
constexpr std::size_t kInstanceLength = kStampLength + 1 + 16;

bool all_of(std::string_view text, const char* allowed) {
  return text.find_first_not_of(allowed) == std::string_view::npos;
}

bool is_instance(std::string_view name) {
  return name.size() == kInstanceLength && all_of(name.substr(0, kStampLength), "0123456789") &&
         name[kStampLength] == '-' && all_of(name.substr(kStampLength + 1), "0123456789abcdef");
}

std::string new_instance() {
  char bits[17];
  std::snprintf(bits, sizeof bits, "%016llx", static_cast<unsigned long long>(random_bits()));
  return format_compact(platform::server_now()) + "-" + bits;
}

// "SEQUENCE-NAME": the sequence, or nothing when the name is no claim.
std::optional<std::string_view> sequence_of(std::string_view claim_name) {
  const std::size_t dash = claim_name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == claim_name.size() ||
      !all_of(claim_name.substr(0, dash), "0123456789"))
    return std::nullopt;
  return claim_name.substr(0, dash);
}

}  // namespace

ClaimFolders::ClaimFolders() : instance_(new_instance()) {}

ClaimFolders::~ClaimFolders() { release_all(); }

void ClaimFolders::release_all() {
  for (const Held& held : held_) remove_if_empty(held);
  held_.clear();
  // Only when no other module's folder is left in it.
  if (root_ && watched_) watched_.remove_folder(kClaimRoot);
  root_ = platform::Folder();
  own_ready_ = false;
}

void ClaimFolders::attach(const platform::Folder& watched) {
  if (!watched_ || watched.identity() != watched_.identity()) {
    release_all();
    own_failed_ = false;
    try {
      watched_ = platform::Folder::open_child(watched, ".", false, 0);
    } catch (const RuntimeError&) {
      watched_ = platform::Folder();
      return;
    }
  }
  if (!own_ready_) make_own_folder(watched_);
  if (root_) take_over_dead_folders();
}

// The claim root and this run's folder belong to the module's account alone: anything else
// there (a link, another account's folder) could lead claims, or the take-over of dead
// folders, to files that are not messages.
void ClaimFolders::make_own_folder(const platform::Folder& watched) {
  try {
    if (!root_) root_ = platform::Folder::open_child(watched, kClaimRoot, true, 0700);
    if (root_.owner() != ::geteuid()) throw RuntimeError(75, root_.path() + " belongs to another account");
    platform::Folder own = platform::Folder::open_child(root_, instance_, true, 0700);
    platform::Fd lock = platform::create_locked_file(own, kLockName);
    held_.push_front(Held{std::move(own), std::move(lock), instance_});
    own_ready_ = true;
  } catch (const RuntimeError& e) {
    root_ = platform::Folder();
    if (!std::exchange(own_failed_, true))
      log_general("Web files cannot be claimed here and are worked in the watched folder itself: " + e.description());
  }
}

ClaimFolders::Outcome ClaimFolders::claim(const platform::Folder& watched, const std::string& name, ClaimedFile& file) {
  if (!own_ready_) return Outcome::InPlace;
  const Held& own = held_.front();
  const std::string sequence = std::to_string(++sequence_);
  const std::string claim_name = sequence + "-" + name;
  const int error = watched.move(name, own.folder, claim_name);
  if (error == ENOENT) return Outcome::Gone;
  if (error != 0) return Outcome::InPlace;
  file = ClaimedFile{&own.folder, claim_name, name, instance_ + "-" + sequence};
  return Outcome::Claimed;
}

void ClaimFolders::take_over_dead_folders() {
  std::vector<std::string> dead;
  try {
    root_.walk("", [&](const platform::Folder::Listed& entry) {
      if (is_instance(entry.name) && entry.name != instance_) dead.push_back(entry.name);
      return true;
    });
  } catch (const RuntimeError&) {
    return;
  }
  for (const std::string& instance : dead) {
    bool held_here = false;
    for (const Held& held : held_) held_here = held_here || held.instance == instance;
    if (held_here) continue;
    try {
      platform::Folder folder = platform::Folder::open_child(root_, instance, false, 0700);
      if (folder.owner() != ::geteuid()) continue;
      if (auto lock = platform::try_lock_file(folder, kLockName))
        held_.push_back(Held{std::move(folder), std::move(*lock), instance, true});
    } catch (const RuntimeError&) {
      // Gone meanwhile: another module took it over and removed it.
    }
  }
}

std::vector<ClaimedFile> ClaimFolders::files_to_finish() {
  std::vector<ClaimedFile> files;
  if (own_ready_) held_.front().look_again = held_.front().look_again || std::exchange(own_look_again_, false);
  for (auto it = held_.begin(); it != held_.end();) {
    const bool own = own_ready_ && it == held_.begin();
    if (!std::exchange(it->look_again, false)) {
      ++it;
      continue;
    }
    try {
      it->folder.walk("", [&](const platform::Folder::Listed& entry) {
        if (const auto sequence = sequence_of(entry.name))
          files.push_back({&it->folder, entry.name, entry.name.substr(sequence->size() + 1),
                           it->instance + "-" + std::string(*sequence)});
        return true;
      });
    } catch (const RuntimeError&) {
      // A claim folder that cannot be listed now keeps its files for a later look; the
      // files found so far are still worked.
    }
    // A folder taken over is looked at until it is empty and removed.
    if (!own && remove_if_empty(*it)) it = held_.erase(it);
    else (it++)->look_again = !own;
  }
  return files;
}

bool ClaimFolders::remove_if_empty(const Held& held) const {
  if (!root_) return false;
  bool empty = true;
  try {
    held.folder.walk("", [&](const platform::Folder::Listed& entry) {
      empty = entry.name == kLockName;
      return empty;
    });
    // The lock goes last but one: a folder without it is never taken over.
    return empty && held.folder.remove(kLockName) && root_.remove_folder(held.instance);
  } catch (const RuntimeError&) {
    return false;
  }
}

bool ClaimFolders::still_present(const platform::Folder& watched, const std::string& key, const std::string& name) const {
  const std::size_t dash = key.rfind('-');
  if (dash != std::string::npos && is_instance(std::string_view(key).substr(0, dash))) {
    if (!root_) return true;
    try {
      const platform::Folder folder = platform::Folder::open_child(root_, key.substr(0, dash), false, 0700);
      return folder.stamp(key.substr(dash + 1) + "-" + name).has_value();
    } catch (const RuntimeError&) {
      return false;
    }
  }
  return watched.stamp(name).has_value();
}

}  // namespace dexweb
