#pragma once
// The work objects of one check_for_messages call.

#include <string>

#include "config/interface_settings.h"
#include "data/query_object.h"
#include "intake/internal/filters.h"
#include "intake/intake_context.h"
#include "intake/message_rows.h"
#include "notify/notifications.h"
#include "util/nvp_list.h"

namespace dexweb {

// The error routine's name for the failing steps of a call.
inline constexpr const char* kIntakeProcedure = "Procedure: check_for_messages";
// A file that its writer may still hold is tested again after this pause...
inline constexpr double kWriterPollSeconds = 0.3;
// ...while one poll has waited less than this in all; then busy files are left for a later
// poll at once, so that one writer cannot hold the files behind it.
inline constexpr double kWriterWaitPerPoll = 3.0;

struct IntakeCall {
  explicit IntakeCall(IntakeContext& context);

  IntakeContext& ctx;
  std::string folder;  // the watched folder, ending with '/'
  NVPList files;       // name -> modification time
  NVPList lines;       // the lines of the current file
  QueryObject query;
  InterfaceSettings interface_settings;
  FilterContext filter;
  NotifyContext notify;
  RowSource rows;
  double writer_wait_left = kWriterWaitPerPoll;
};

// The per-file sequence, from opening the listed entry and waiting for its writer to
// deleting the file.
void process_message_file(IntakeCall& call, const std::string& name);
// A link, pipe, socket, device or folder named like a message: logged once while it stays,
// never followed or read.
void leave_non_regular_entry(const std::string& folder, const std::string& name, LeftoverFiles& leftovers);

}  // namespace dexweb
