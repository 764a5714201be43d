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

// Writes the file into folder (created when missing) and returns its path.
std::string submit_web_message(const std::string& folder, const WebSubmission& submission);

// The watched folder of the gateway whose registry file is registry_path: the settings
// row's dexwebcgi_path in the database under its DB_Dir. Raises RuntimeError when the
// registry names no DB_Dir or the database cannot be read.
std::string watched_folder_of(const std::string& registry_path);

}  // namespace dexweb::ctl
