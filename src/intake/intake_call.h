#pragma once
// The work objects of one check_for_messages call.

#include <string>

#include "config/interface_settings.h"
#include "data/query_object.h"
#include "intake/filters.h"
#include "intake/intake_context.h"
#include "intake/message_rows.h"
#include "notify/notifications.h"
#include "util/nvp_list.h"

namespace dexweb {

// The error routine's name for the failing steps of a call.
inline constexpr const char* kIntakeProcedure = "Procedure: check_for_messages";

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
};

// The per-file sequence, from waiting for the writer to deleting the file.
void ProcessMessageFile(IntakeCall& call, const std::string& name);

}  // namespace dexweb
