// The monitor command: the module's datagrams ("module|time|category|text" + CR) as the
// operator sees them, one line each with the category coloured on a terminal, and the
// tally of accepted and refused messages.
#include <array>
#include <cstdio>
#include <optional>
#include <string_view>

#include "config/registry.h"
#include "platform/registry_file.h"
#include "platform/process.h"
#include "platform/sockets.h"
#include "tools/ctl_commands.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb::ctl {
namespace {

constexpr std::string_view kOwnModule = kModuleName;
constexpr std::string_view kMessageLogModule = "Velotrax";

std::string printable(std::string_view raw) {
  std::string out(raw);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
  return out;
}

// SGR colour code of a category; empty for those shown plainly.
std::string_view colour_of(std::string_view category) {
  struct Entry {
    std::string_view category, code;
  };
  static constexpr std::array<Entry, 5> kColours{
      {{"good", "32"}, {"bad", "31"}, {"running", "36"}, {"stopped", "33"}, {"?", "35"}}};
  for (const Entry& e : kColours)
    if (e.category == category) return e.code;
  return {};
}

std::string padded_category(std::string_view category, bool colour) {
  std::string cell(category);
  if (cell.size() < 7) cell.resize(7, ' ');
  const std::string_view code = colour_of(category);
  if (!colour || code.empty()) return cell;
  return "\x1b[" + std::string(code) + "m" + cell + "\x1b[0m";
}

struct MonitorReport {
  std::string module;
  std::string time;
  std::string category;
  std::string text;  // may hold '|' when a sender did not escape it
};

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

// nullopt when the datagram has fewer than four fields.
std::optional<MonitorReport> parse_report(std::string_view datagram) {
  if (datagram.ends_with('\r')) datagram.remove_suffix(1);
  std::array<std::string_view, 3> head;
  for (std::string_view& field : head) {
    const auto bar = datagram.find('|');
    if (bar == std::string_view::npos) return std::nullopt;
    field = datagram.substr(0, bar);
    datagram.remove_prefix(bar + 1);
  }
  return MonitorReport{std::string(head[0]), std::string(head[1]), std::string(head[2]), std::string(datagram)};
}

bool Tally::count(const MonitorReport& report) {
  if (text::to_lower(report.module) == text::to_lower(kMessageLogModule)) return false;
  const std::string category = text::to_lower(report.category);
  if (category == "good") ++good;
  else if (category == "bad") ++bad;
  else return false;
  return true;
}

std::string Tally::text() const {
  return "recipients: good " + std::to_string(good) + ", bad " + std::to_string(bad);
}

// "time  category  text", the module named when it is not the module's own, the tally
// after a counted report; control and non-ASCII bytes shown as '?' so that a datagram can
// never drive the terminal. An unreadable datagram shows as category "?" with its bytes.
std::string report_line(std::string_view datagram, Tally& tally, bool colour) {
  const auto report = parse_report(datagram);
  if (!report) return std::string(19, ' ') + "  " + padded_category("?", colour) + "  " + printable(datagram);
  std::string line = printable(report->time) + "  " + padded_category(printable(text::to_lower(report->category)), colour) + "  ";
  if (report->module != kOwnModule) line += "[" + printable(report->module) + "] ";
  line += printable(report->text);
  if (tally.count(*report)) line += "  (" + tally.text() + ")";
  return line;
}


int monitor_port(const Options& options) {
  if (const auto port = options.number("port", 0, 65535)) return static_cast<int>(*port);
  const platform::RegistryFile registry(registry_path(options));
  const int configured = registry_port(query_value(registry, kMonitorKey, "VTM_Port"));
  return configured != 0 ? configured : kDefaultMonitorPort;
}

bool use_colour(const Options& options) {
  const std::string choice = options.get("colour").value_or("auto");
  if (choice == "always") return true;
  if (choice == "never") return false;
  if (choice != "auto") throw UsageError("--colour takes auto, always or never");
  return platform::is_terminal(1);
}

}  // namespace

int run_monitor(const std::vector<std::string>& args) {
  const Options options(args, {"port", "address", "count", "colour"});
  if (!options.words().empty()) throw UsageError("unexpected word " + options.words()[0]);
  const long limit = options.number("count", 1, 1'000'000'000).value_or(0);
  const bool colour = use_colour(options);
  const std::string address = options.get("address").value_or("127.0.0.1");
  platform::UdpReceiver receiver(address, monitor_port(options));
  std::fprintf(stderr, "dexwebctl: listening for monitor datagrams on %s:%d\n", address.c_str(), receiver.port());
  std::fflush(stderr);
  Tally tally;
  for (long shown = 0; limit == 0 || shown < limit;) {
    const auto datagram = receiver.receive(std::chrono::milliseconds(1000));
    if (!datagram) continue;
    std::printf("%s\n", report_line(*datagram, tally, colour).c_str());
    std::fflush(stdout);
    ++shown;
  }
  std::printf("%s\n", tally.text().c_str());
  return 0;
}

}  // namespace dexweb::ctl
