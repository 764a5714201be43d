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

// Who reads a page: the public sees the form alone; the operator's pages link to the status
// page as well.
enum class Audience { kPublic, kOperator };

// The form, filled with values, with the problems listed above it; token goes into the
// hidden field that a post must return (web_server.h).
std::string form_page(const std::string& token, Audience audience, const FormValues& values = {},
                      const std::vector<std::string>& problems = {});
// The notice that the message file file_name waits in the watched folder: whether the
// message is delivered is the module's decision at its next poll, so the page claims no
// more than that it is queued (and shows the operator the way to the status page).
std::string queued_page(const std::string& file_name, Audience audience);
// The facts of `dexwebctl status` and a chart of the last hour (recipients accepted and
// refused per minute, inline SVG), reloading itself.
std::string status_page(const GatewayStatus& status);
// Why a request was not done: a failure on the server's side (the database or the
// folder), or a request the server does not take, explained.
std::string failure_page(const std::string& reason, Audience audience);

}  // namespace dexweb::ctl
