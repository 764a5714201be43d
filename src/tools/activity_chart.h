#pragma once
// The status page's chart of the last hour: one stacked bar per minute (recipients accepted,
// then refused), a time axis with local clock times every ten minutes, a count axis and a
// legend, as inline SVG that needs no script and no style sheet of the page.

#include <string>

#include "tools/gateway_status.h"

namespace dexweb::ctl {

std::string activity_chart(const LogActivity& activity);

}  // namespace dexweb::ctl
