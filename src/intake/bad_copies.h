#pragma once
// Copies of refused web files in the bad folder. A copy holds the bytes that were read of
// the file (never the file read again by its name), appears whole or not at all, is
// readable by the module's account and group only, and never replaces another file. When
// it cannot be made, the web file stays in the watched folder and the copy is tried again
// at later polls; the file is deleted once its copy exists.

#include <string>
#include <string_view>

#include "config/registry_settings.h"
#include "intake/web_message.h"

namespace dexweb {

class LeftoverFiles;

// The log folder (Log_Dir, or its default) + "badmsg/".
std::string bad_folder(const RegistrySettings& registry);
// bad_folder + unique_name + ".web": a web file's bad-copy name, fixed once it was read.
std::string make_bad_copy_path(const RegistrySettings& registry);
// msg.bad_copy_path, checked at the first call for the file (its first refusal): when a file
// of that name exists already (an earlier run's, since names restart with each run),
// another unique name is taken. Accepted files never pay for the check.
const std::string& claim_bad_copy_path(WebMessage& msg, const RegistrySettings& registry);

// Writes msg.bytes to msg.bad_copy_path unless this file's copy was made already: 3 tries,
// 0.5 s apart, the bad folder created when missing. False when the copy could not be made
// (msg.bad_copy_pending is then set).
bool save_bad_copy(WebMessage& msg);

// True for the name a bad copy has in the bad folder while it is being written (the
// module's unique name + ".web" + write_new_file's temporary ending): what a run that ended
// in the middle of one leaves behind.
bool is_bad_copy_temporary(std::string_view name);

// Tries again the copies of the files of folder that were kept for them; a file whose copy
// is made is deleted and forgotten, a file that changed meanwhile is forgotten (it is
// another file now, worked as such).
void retry_pending_copies(const std::string& folder, LeftoverFiles& leftovers);

}  // namespace dexweb
