#include "tools/monitor_report.h"

#include <array>

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

}  // namespace

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

std::string report_line(std::string_view datagram, Tally& tally, bool colour) {
  const auto report = parse_report(datagram);
  if (!report) return std::string(19, ' ') + "  " + padded_category("?", colour) + "  " + printable(datagram);
  std::string line = printable(report->time) + "  " + padded_category(printable(text::to_lower(report->category)), colour) + "  ";
  if (report->module != kOwnModule) line += "[" + printable(report->module) + "] ";
  line += printable(report->text);
  if (tally.count(*report)) line += "  (" + tally.text() + ")";
  return line;
}

}  // namespace dexweb::ctl
