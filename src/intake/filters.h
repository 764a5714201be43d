#pragma once
// The site's interface filters: the raw filter on the whole file before parsing, and the
// interface filter on the parsed recipient, sender and message after validation. Each
// runs only when the effective interface settings configure it; each sets
// msg.FilterAborted when the filter removed the message.

#include <string>

#include "config/interface_settings.h"
#include "intake/web_message.h"

namespace dexweb {

// What the filters need from the running module.
struct FilterContext {
  std::string TempFolder;  // with a trailing '/'
};

void run_raw_interface_filter(const InterfaceSettings& settings, const FilterContext& ctx, WebMessage& msg);
void run_interface_filter(const InterfaceSettings& settings, const FilterContext& ctx, WebMessage& msg);

}  // namespace dexweb
