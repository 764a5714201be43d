#pragma once
// Copies of refused web files in the bad folder. A copy holds the bytes that were read of
// the file (never the file read again by its name), appears whole or not at all, is
// readable by the module's account and group only, and never replaces another file. When
// it cannot be made, the web file stays in the watched folder and the copy is tried again
// at later polls; the file is deleted once its copy exists.

#include <string>

#include "intake/web_message.h"

namespace dexweb {

class LeftoverFiles;

// The log folder (Log_Dir, or its default) + "badmsg/".
std::string BadFolder();
// BadFolder + UniqueName + ".web", a name that no file has yet.
std::string MakeBadCopyPath();

// Writes msg.bytes to msg.BadCopyPath unless this file's copy was made already: 3 tries,
// 0.5 s apart, the bad folder created when missing. False when the copy could not be made
// (msg.bad_copy_pending is then set).
bool SaveBadCopy(WebMessage& msg);

// Tries again the copies of the files of folder that were kept for them; a file whose copy
// is made is deleted and forgotten, a file that changed meanwhile is forgotten (it is
// another file now, worked as such).
void RetryPendingCopies(const std::string& folder, LeftoverFiles& leftovers);

}  // namespace dexweb
