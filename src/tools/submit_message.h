#pragma once
// Writing a message file into the watched folder as the web form does: CR LF lines
// "user=", "frm=", "subject=" and "msg=" last, written under a temporary name and renamed to
// a ".msg" name once complete, so that the module never reads half a file.

#include <string>

namespace dexweb::ctl {

struct WebSubmission {
  std::string user;
  std::string from;
  std::string to;       // the recipient list
  std::string message;  // line breaks become CR LF
};

// The file's text.
std::string web_file_text(const WebSubmission& submission);

// Message files are readable to the watched folder's group (and through its default ACL to
// the module's account) whatever the writer's umask.
inline constexpr unsigned kWebFileMode = 0640;
// Writes text to path as every web file is written: under a temporary name beside it (no
// ".msg"), with mode kWebFileMode, then renamed into place.
void write_web_file(const std::string& path, const std::string& text);

// Writes the file into folder (created when missing) and returns its path.
std::string submit_web_message(const std::string& folder, const WebSubmission& submission);

// The watched folder of the gateway whose registry file is registry_path: the settings
// row's dexwebcgi_path in the database under its DB_Dir. Raises RuntimeError when the
// registry names no DB_Dir or the database cannot be read.
std::string watched_folder_of(const std::string& registry_path);

}  // namespace dexweb::ctl
