#include "tools/submit_message.h"

#include <random>

#include "data/db_object.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "tools/gateway_registry.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb::ctl {
namespace {

std::string as_folder(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

// A name that no file of the folder has yet: time stamp and a random part.
std::string new_file_name(const std::string& folder) {
  std::random_device random;
  std::uniform_int_distribution<unsigned> part(0, 0xFFFFFF);
  for (;;) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%06x", part(random));
    std::string name = "web" + format_compact(platform::local_now()) + "-" + suffix + ".msg";
    if (!platform::stat_path(folder + name)) return name;
  }
}

}  // namespace

std::string web_file_text(const WebSubmission& s) {
  return "user=" + s.user + "\r\nfrm=" + s.from + "\r\nsubject=" + s.to + "\r\nmsg=" + text::with_crlf(s.message) + "\r\n";
}

std::string submit_web_message(const std::string& folder_path, const WebSubmission& submission) {
  const std::string folder = as_folder(folder_path);
  platform::make_dirs(folder);
  const std::string path = folder + new_file_name(folder);
  write_web_file(path, web_file_text(submission));
  return path;
}

void write_web_file(const std::string& path, const std::string& text) {
  platform::write_file_atomic(path, text, kWebFileMode);
}

std::string watched_folder_of(const std::string& registry_path) {
  DBObject db(gateway_database_settings(registry_path));
  std::string folder = read_watched_folder(db);
  db.CloseDb();
  return folder;
}

}  // namespace dexweb::ctl
