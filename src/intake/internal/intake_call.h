#pragma once
// The work objects of one check_for_messages call.

#include <cstdint>
#include <string>
#include <vector>

#include "config/interface_settings.h"
#include "intake/claim_folders.h"
#include "data/sql_text.h"
#include "intake/internal/filters.h"
#include "intake/internal/worked_files.h"
#include "intake/check_for_messages.h"
#include "intake/message_rows.h"
#include "notify/notifications.h"
#include "util/nvp_list.h"

namespace dexweb {

// The error routine's name for the failing steps of a call.
inline constexpr const char* kIntakeProcedure = "Procedure: check_for_messages";
// A file whose writer the module cannot ask is looked at again after this pause...
inline constexpr double kWriterPollSeconds = 0.3;
// ...while one poll has waited less than this in all; then such files are left for a later
// poll at once. A file its writer holds open is never waited for: the folder watch tells
// when it is closed.
inline constexpr double kWriterWaitPerPoll = 0.3;

struct IntakeCall {
  explicit IntakeCall(IntakeContext& context);

  // The record, made ready (table made, old records pruned) before the call's first file.
  WorkedFiles& prepared_record();

  IntakeContext& ctx;
  std::string folder;  // the watched folder, ending with '/'
  const platform::Folder* watched = nullptr;  // as opened for this call
  WorkedFiles record;
  bool record_prepared = false;
  NVPList files;       // name -> modification time
  NVPList lines;       // the lines of the current file
  QueryObject query;
  InterfaceSettings interface_settings;
  FilterContext filter;
  NotifyContext notify;
  RowSource rows;
  double writer_wait_left = kWriterWaitPerPoll;
};

// The per-file sequence, from the claim of the listed file to its deletion.
void process_message_file(IntakeCall& call, const std::string& name);
// The claimed files of held claim folders that are still to be finished (not those left
// there as they were); each is finished from what its record says is done, or worked from
// the start when it has none.
std::vector<ClaimedFile> claimed_files_to_finish(IntakeCall& call);
void finish_claimed_files(IntakeCall& call, const std::vector<ClaimedFile>& files);
// A link, pipe, socket, device or folder named like a message: logged once while it stays,
// never followed or read.
void leave_non_regular_entry(const std::string& folder, const std::string& name, std::uint64_t inode,
                             LeftoverFiles& leftovers);

}  // namespace dexweb
