#pragma once
// One monitor datagram as the operator sees it: "module|time|category|text" + CR, shown
// as one line with the category coloured on a terminal, and the tally of accepted and
// refused messages.

#include <optional>
#include <string>
#include <string_view>

namespace dexweb::ctl {

struct MonitorReport {
  std::string module;
  std::string time;
  std::string category;
  std::string text;  // may hold '|' when a sender did not escape it
};

// nullopt when the datagram has fewer than four fields.
std::optional<MonitorReport> parse_report(std::string_view datagram);

struct Tally {
  long good = 0;
  long bad = 0;
  // The module reports "good" once per row it stores (an accepted recipient) and "bad" once
  // per refusal (a refused recipient, or a whole message): both are counted per recipient,
  // which the text says.
  std::string text() const;
  // Counts the report when it is a good or bad one of a module (the gateway's message-log
  // copies, module "Velotrax", repeat the module's own reports); true when it counted.
  bool count(const MonitorReport& report);
};

// "time  category  text", the module named when it is not the module's own, the tally
// after a counted report; control and non-ASCII bytes shown as '?' so that a datagram can
// never drive the terminal. An unreadable datagram shows as category "?" with its bytes.
std::string report_line(std::string_view datagram, Tally& tally, bool colour);

}  // namespace dexweb::ctl
