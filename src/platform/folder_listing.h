#pragma once
// A walk over a folder's entries that stops as soon as the caller has what it needs, so that
// taking the first few files of a large folder costs no more than those few.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "platform/folder_entry.h"

namespace dexweb::platform {

// Calls visit(name, stamp) for each entry of folder whose name ends with suffix (compared
// without regard to case), in directory order, each described as it is itself (a link is
// not followed; an entry gone before it could be described is passed over). The walk ends
// when visit returns false or the folder has no more entries. Raises the file error (52..76)
// when the folder cannot be listed.
// How many entries of folder have names ending with suffix (without regard to case), from
// the names alone: no entry is examined, so a large folder costs one pass over its names.
// Raises the file error (52..76) when the folder cannot be listed.
std::size_t count_names(const std::string& folder, std::string_view suffix);

void walk_folder(const std::string& folder, std::string_view suffix,
                 const std::function<bool(const std::string& name, const FileStamp& stamp)>& visit);

}  // namespace dexweb::platform
