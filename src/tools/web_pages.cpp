#include "tools/web_pages.h"

#include <algorithm>
#include <cstdio>

#include "tools/status_output.h"
#include "util/text.h"

namespace dexweb::ctl {
namespace {

// The text with & < > " ' as character references, and bytes that are not UTF-8 replaced
// by their Windows-1252 characters, so that the page stays valid UTF-8.
std::string html_escape(std::string_view text) {
  std::string out;
  for (const char c : text::decode_bytes(text)) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// The status page's chart of the last hour: one stacked bar per minute (recipients accepted,
// then refused), a time axis with local clock times every ten minutes, a count axis and a
// legend, as inline SVG that needs no script and no style sheet of the page.

using Minutes = std::chrono::minutes;

constexpr int kBar = 10;
constexpr int kLeft = 50, kTop = 34, kPlotWidth = static_cast<int>(kActivityMinutes) * kBar, kPlotHeight = 150;
constexpr int kBaseline = kTop + kPlotHeight;
constexpr int kWidth = kLeft + kPlotWidth + 30, kHeight = kBaseline + 46;
constexpr int kTickMinutes = 10;
constexpr const char* kAcceptedColour = "#2a2";
constexpr const char* kRefusedColour = "#c22";

// Coordinates to a tenth of a pixel, without a trailing ".0".
std::string px(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  std::string out = text;
  if (out.ends_with(".0")) out.resize(out.size() - 2);
  return out;
}

std::string clock_time(DateTime t) { return format_datetime(t).substr(11, 5); }

std::string line(double x1, double y1, double x2, double y2, const char* colour) {
  return "<line x1=\"" + px(x1) + "\" y1=\"" + px(y1) + "\" x2=\"" + px(x2) + "\" y2=\"" + px(y2) + "\" stroke=\"" + colour +
         "\"/>";
}

std::string label(double x, double y, const std::string& words, const std::string& more = "") {
  return "<text x=\"" + px(x) + "\" y=\"" + px(y) + "\"" + more + ">" + words + "</text>";
}

// The count axis's step: 1, 2 or 5 times a power of ten, so that at most five steps reach
// the busiest minute.
long long count_step(long long most) {
  for (long long scale = 1;; scale *= 10)
    for (const long long step : {1, 2, 5})
      if (most <= 5 * step * scale) return step * scale;
}

double height_of(long long count, long long top) { return static_cast<double>(count) * kPlotHeight / static_cast<double>(top); }

std::string count_axis(long long top, long long step) {
  std::string out = "<g id=\"count-axis\" font-size=\"11\" text-anchor=\"end\">";
  for (long long value = 0; value <= top; value += step) {
    const double y = kBaseline - height_of(value, top);
    out += line(kLeft, y, kLeft + kPlotWidth, y, "#ddd") + label(kLeft - 6, y + 4, std::to_string(value));
  }
  out += line(kLeft, kTop, kLeft, kBaseline, "#333");
  out += label(-(kTop + kPlotHeight / 2.0), 14, "recipients per minute", " transform=\"rotate(-90)\" text-anchor=\"middle\"");
  return out + "</g>";
}

// x of a moment of the last hour: now at the right end of the plot.
double x_of(DateTime t, DateTime now) {
  return kLeft + kPlotWidth - std::chrono::duration<double, Minutes::period>(now - t).count() * kBar;
}

// Ticks at the whole ten minutes of the clock.
std::string time_axis(DateTime now) {
  std::string out = "<g id=\"time-axis\" font-size=\"11\" text-anchor=\"middle\">" +
                    line(kLeft, kBaseline, kLeft + kPlotWidth, kBaseline, "#333");
  const DateTime start = now - Minutes(kActivityMinutes);
  DateTime tick = std::chrono::floor<Minutes>(now) - Minutes(civil(now).minute % kTickMinutes);
  for (; tick >= start; tick -= Minutes(kTickMinutes)) {
    const double x = x_of(tick, now);
    out += line(x, kBaseline, x, kBaseline + 5, "#333") + label(x, kBaseline + 18, clock_time(tick));
  }
  out += label(kLeft + kPlotWidth / 2.0, kBaseline + 38, "local time, one bar per minute");
  return out + "</g>";
}

std::string bar(const char* kind, const char* colour, int x, double y, double height, const std::string& tip) {
  return "<rect class=\"" + std::string(kind) + "\" x=\"" + std::to_string(x) + "\" y=\"" + px(y) + "\" width=\"" +
         std::to_string(kBar - 2) + "\" height=\"" + px(height) + "\" fill=\"" + colour + "\"><title>" + tip +
         "</title></rect>";
}

// Accepted at the bottom of each minute's bar, refused on top of them.
std::string bars(const LogActivity& activity, long long top) {
  std::string out = "<g id=\"bars\">";
  for (std::size_t i = 0; i < kActivityMinutes; ++i) {
    const int x = kLeft + kPlotWidth - static_cast<int>(i + 1) * kBar + 1;
    const std::string minute = clock_time(activity.now - Minutes(i));
    const double accepted = height_of(activity.accepted[i], top), refused = height_of(activity.refused[i], top);
    if (activity.accepted[i] > 0)
      out += bar("accepted", kAcceptedColour, x, kBaseline - accepted, accepted,
                 minute + ": " + std::to_string(activity.accepted[i]) + " accepted");
    if (activity.refused[i] > 0)
      out += bar("refused", kRefusedColour, x, kBaseline - accepted - refused, refused,
                 minute + ": " + std::to_string(activity.refused[i]) + " refused");
  }
  return out + "</g>";
}

std::string legend() {
  std::string out = "<g id=\"legend\" font-size=\"12\">";
  int x = kLeft;
  for (const auto& [kind, colour] : {std::pair{"accepted", kAcceptedColour}, std::pair{"refused", kRefusedColour}}) {
    out += "<rect x=\"" + std::to_string(x) + "\" y=\"10\" width=\"12\" height=\"12\" fill=\"" + colour + "\"/>" +
           label(x + 18, 20, kind);
    x += 100;
  }
  return out + "</g>";
}

std::string activity_chart(const LogActivity& activity) {
  long long most = 1;
  for (std::size_t i = 0; i < kActivityMinutes; ++i)
    most = std::max<long long>(most, static_cast<long long>(activity.accepted[i]) + activity.refused[i]);
  const long long step = count_step(most);
  const long long top = (most + step - 1) / step * step;
  return "<svg id=\"activity\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kWidth) + "\" height=\"" +
         std::to_string(kHeight) + "\" viewBox=\"0 0 " + std::to_string(kWidth) + " " + std::to_string(kHeight) +
         "\" role=\"img\" font-family=\"sans-serif\" style=\"max-width:100%;height:auto\">"
         "<title>Recipients accepted and refused per minute, last hour</title>" +
         count_axis(top, step) + time_axis(activity.now) + bars(activity, top) + legend() + "</svg>";
}


constexpr const char* kStyle =
    "body{font-family:sans-serif;max-width:52em;margin:2em auto;padding:0 1em}"
    "label{display:block;margin-top:1em;font-weight:bold}input,textarea{width:100%;box-sizing:border-box}"
    ".problems{color:#a00}.done{color:#060}nav a{margin-right:1em}body.wide{max-width:80em}"
    "table{border-collapse:collapse;width:100%}td,th{padding:.2em .6em;text-align:left;vertical-align:top}"
    "th{border-bottom:1px solid #999}tr:nth-child(even) td{background:#f3f3f3}"
    // Paths and stamps have no break opportunities of their own: a path may break anywhere
    // and a stamp never, so that the reason keeps a readable width beside them.
    ".stamp{white-space:nowrap}.path{overflow-wrap:anywhere}.why{min-width:20em}";

// wide: the status page's tables and chart use the width of a desktop screen.
std::string page(const std::string& title, const std::string& body, Audience audience, int refresh_seconds = 0,
                 bool wide = false) {
  std::string head = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">";
  if (refresh_seconds > 0) head += "<meta http-equiv=\"refresh\" content=\"" + std::to_string(refresh_seconds) + "\">";
  const char* status_link = audience == Audience::kOperator ? "<a href=\"/status\">Status</a>" : "";
  return head + "<title>" + html_escape(title) + "</title><style>" + kStyle + "</style></head><body" +
         (wide ? " class=\"wide\">" : ">") + "<nav><a href=\"/\">Send a message</a>" + status_link +
         "</nav><h1>" + html_escape(title) + "</h1>\n" + body + "\n</body></html>\n";
}

std::string field_input(const FormField& field, const FormValues& values) {
  const std::string name = field.name;
  const std::string value = html_escape(form_value(values, name));
  const std::string limits = " maxlength=\"" + std::to_string(field.max_chars) + "\"" + (field.required ? " required" : "");
  const std::string input = field.multi_line
                                ? "<textarea id=\"" + name + "\" name=\"" + name + "\" rows=\"8\"" + limits + ">" + value + "</textarea>"
                                : "<input id=\"" + name + "\" name=\"" + name + "\" type=\"text\"" + limits + " value=\"" + value + "\">";
  return "<label for=\"" + name + "\">" + field.label + "</label>" + input + "\n";
}

std::string folder_section(const char* title, const FolderFacts& facts) {
  std::string out = "<h2>" + std::string(title) + " (" + std::to_string(facts.count) + ")</h2><p>" +
                    html_escape(facts.folder) + "</p><table>";
  for (const FileFact& f : facts.newest)
    out += "<tr><td class=\"stamp\">" + html_escape(f.modified) + "</td><td class=\"path\">" + html_escape(f.name) + "</td></tr>";
  return out + "</table>\n";
}

std::string messages_section(const std::vector<MessageFact>& messages) {
  std::string out = "<h2>Last messages</h2><table><tr><th>#</th><th>requested</th><th>account</th><th>pin</th><th>from</th><th>message</th></tr>";
  for (const MessageFact& m : messages)
    out += "<tr><td>" + html_escape(m.record_id) + "</td><td class=\"stamp\">" + html_escape(m.requested) + "</td><td>" + html_escape(m.user) +
           "</td><td>" + html_escape(m.pin) + "</td><td>" + html_escape(m.frm) + "</td><td>" +
           html_escape(message_excerpt(m.message)) + "</td></tr>";
  return out + "</table>\n";
}

std::string refusals_section(const std::vector<RefusalFact>& refusals) {
  std::string out = "<h2>Recent refusals</h2><table id=\"refusals\"><tr><th>when</th><th>recipient</th><th>from</th><th>why</th><th>bad copy</th></tr>";
  for (const RefusalFact& r : refusals)
    out += "<tr><td class=\"stamp\">" + html_escape(r.when) + "</td><td>" + html_escape(r.recipient) + "</td><td>" +
           html_escape(r.sender) + "</td><td class=\"why\">" +
           html_escape(r.reason.empty() ? "(reason not logged at this log level)" : r.reason) + "</td><td class=\"path\">" +
           html_escape(r.source) + "</td></tr>";
  return out + "</table>\n";
}

std::string activity_section(const LogActivity& activity) {
  long long accepted = 0, refused = 0;
  for (std::size_t i = 0; i < kActivityMinutes; ++i) {
    accepted += activity.accepted[i];
    refused += activity.refused[i];
  }
  return "<h2>Last hour</h2><p>Recipients accepted <strong id=\"hour-accepted\">" + std::to_string(accepted) +
         "</strong>, refused <strong id=\"hour-refused\">" + std::to_string(refused) + "</strong></p>" +
         activity_chart(activity) + "\n";
}

}  // namespace

std::string form_page(const std::string& token, Audience audience, const FormValues& values,
                      const std::vector<std::string>& problems) {
  std::string body;
  if (!problems.empty()) {
    body += "<div class=\"problems\"><p>The message was not sent:</p><ul>";
    for (const std::string& p : problems) body += "<li>" + html_escape(p) + "</li>";
    body += "</ul></div>\n";
  }
  body += "<form method=\"post\" action=\"/submit\" enctype=\"multipart/form-data\" accept-charset=\"utf-8\">\n";
  body += "<input name=\"" + std::string(kFormTokenField) + "\" type=\"hidden\" value=\"" + html_escape(token) + "\">\n";
  for (const FormField& field : kFormFields) body += field_input(field, values);
  body += "<p><button type=\"submit\">Send</button></p></form>";
  return page("Send a message", body, audience);
}

std::string queued_page(const std::string& file_name, Audience audience) {
  const std::string follow = audience == Audience::kOperator
                                 ? ": follow it on the <a id=\"follow\" href=\"/status\">status page</a>."
                                 : ".";
  return page("Message queued for delivery",
              "<p class=\"done\" id=\"done\">The message was queued as <code>" + html_escape(file_name) +
                  "</code> in the watched folder. The module reads it at its next poll and decides then whether it goes out" +
                  follow + "</p><p><a href=\"/\">Send another</a></p>",
              audience);
}

std::string status_page(const GatewayStatus& status) {
  std::string body = "<p>Module: <strong id=\"state\">" + html_escape(state_text(status)) + "</strong> (" +
                     html_escape(control_summary(status)) + ")</p>\n";
  body += activity_section(status.activity) + folder_section("Waiting", status.waiting) +
          messages_section(status.messages) + refusals_section(status.activity.refusals) +
          folder_section("Bad copies", status.bad_copies) + folder_section("Mail files", status.mail_files);
  return page("DexWeb status", body, Audience::kOperator, kStatusRefreshSeconds, true);
}

std::string failure_page(const std::string& reason, Audience audience) {
  return page("Not done", "<p class=\"problems\">" + html_escape(reason) + "</p>", audience);
}

}  // namespace dexweb::ctl
