#pragma once
// The pages of the web form server, complete HTML documents in UTF-8. Everything that
// came from a request, a file or the database is escaped.

#include <string>
#include <vector>

#include "tools/gateway_status.h"
#include "tools/web_form.h"

namespace dexweb::ctl {

// How often the status page reloads itself, in seconds.
inline constexpr int kStatusRefreshSeconds = 5;

// The form, filled with values, with the problems listed above it; token goes into the
// hidden field that a post must return (web_guard.h).
std::string form_page(const std::string& token, const FormValues& values = {},
                      const std::vector<std::string>& problems = {});
// The notice that the message file file_name waits in the watched folder, with a link to the
// status page: whether the message is delivered is the module's decision at its next poll,
// so the page claims no more than that it is queued.
std::string queued_page(const std::string& file_name);
// The facts of `dexwebctl status`, reloading itself.
std::string status_page(const GatewayStatus& status);
// A failure on the server's side (the database or the folder), explained.
std::string failure_page(const std::string& reason);

}  // namespace dexweb::ctl
