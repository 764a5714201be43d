#pragma once
// Whether a web file's writer has finished. The read-lease test answers at once where the
// module may lease the file (its owner, or CAP_LEASE). For a file of another account it
// cannot lease, the file counts as finished only once two looks at least kQuietSeconds
// apart found it unchanged (size, times, identity); until then it is still being written.
// The daemon keeps one for the whole run, so that the looks span polls.

#include <map>
#include <string>
#include <vector>

#include "platform/folder.h"

namespace dexweb {

inline constexpr double kQuietSeconds = 1.0;

class WriterWatch {
 public:
  enum class Writer {
    Done,      // the file is complete
    Holding,   // its writer holds it open: nothing to wait for here
    Settling,  // it may still be written: looked at again after kQuietSeconds
  };
  // What the opened file's writer does. Notes a first look when needed.
  Writer writer(const platform::FolderEntry& entry, const std::string& name);
  // True the first time a busy file is reported (the caller logs it once while it stays busy).
  bool first_report(const std::string& name);
  // The file was read or has left the folder.
  void forget(const std::string& name);
  // Forgets the files that have left folder (one look at each watched file).
  void forget_gone(const std::string& folder);

 private:
  struct Look {
    platform::FileStamp stamp;
    platform::SteadyPoint at;
    bool reported = false;
  };
  std::map<std::string, Look> looks_;
};

}  // namespace dexweb
