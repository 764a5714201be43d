#include "tools/web_pages.h"

#include <algorithm>

#include "tools/html.h"
#include "tools/status_output.h"
#include "tools/web_guard.h"

namespace dexweb::ctl {
namespace {

constexpr const char* kStyle =
    "body{font-family:sans-serif;max-width:52em;margin:2em auto;padding:0 1em}"
    "label{display:block;margin-top:1em;font-weight:bold}input,textarea{width:100%;box-sizing:border-box}"
    ".problems{color:#a00}.done{color:#060}table{border-collapse:collapse}td,th{padding:.2em .6em;text-align:left}"
    "nav a{margin-right:1em}";

std::string page(const std::string& title, const std::string& body, Audience audience, int refresh_seconds = 0) {
  std::string head = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">";
  if (refresh_seconds > 0) head += "<meta http-equiv=\"refresh\" content=\"" + std::to_string(refresh_seconds) + "\">";
  const char* status_link = audience == Audience::kOperator ? "<a href=\"/status\">Status</a>" : "";
  return head + "<title>" + html_escape(title) + "</title><style>" + kStyle + "</style></head><body>" +
         "<nav><a href=\"/\">Send a message</a>" + status_link + "</nav><h1>" + html_escape(title) + "</h1>\n" + body +
         "\n</body></html>\n";
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
  for (const FileFact& f : facts.newest) out += "<tr><td>" + html_escape(f.modified) + "</td><td>" + html_escape(f.name) + "</td></tr>";
  return out + "</table>\n";
}

std::string messages_section(const std::vector<MessageFact>& messages) {
  std::string out = "<h2>Last messages</h2><table><tr><th>#</th><th>requested</th><th>account</th><th>pin</th><th>from</th><th>message</th></tr>";
  for (const MessageFact& m : messages)
    out += "<tr><td>" + html_escape(m.record_id) + "</td><td>" + html_escape(m.requested) + "</td><td>" + html_escape(m.user) +
           "</td><td>" + html_escape(m.pin) + "</td><td>" + html_escape(m.frm) + "</td><td>" +
           html_escape(message_excerpt(m.message)) + "</td></tr>";
  return out + "</table>\n";
}

std::string refusals_section(const std::vector<RefusalFact>& refusals) {
  std::string out = "<h2>Recent refusals</h2><table id=\"refusals\"><tr><th>when</th><th>recipient</th><th>from</th><th>why</th><th>bad copy</th></tr>";
  for (const RefusalFact& r : refusals)
    out += "<tr><td>" + html_escape(r.when) + "</td><td>" + html_escape(r.recipient) + "</td><td>" + html_escape(r.sender) +
           "</td><td>" + html_escape(r.reason.empty() ? "(reason not logged at this log level)" : r.reason) + "</td><td>" +
           html_escape(r.source) + "</td></tr>";
  return out + "</table>\n";
}

// Bars per minute, the oldest minute on the left; accepted green above the axis, refused
// red below it, scaled to the busiest minute.
std::string activity_chart(const LogActivity& activity) {
  constexpr int kBar = 8, kHalf = 50;
  int most = 1;
  for (std::size_t i = 0; i < kActivityMinutes; ++i) most = std::max({most, activity.accepted[i], activity.refused[i]});
  const int width = static_cast<int>(kActivityMinutes) * kBar;
  std::string svg = "<svg id=\"activity\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
                    "\" height=\"" + std::to_string(2 * kHalf + 1) + "\" role=\"img\"><title>Accepted and refused per minute, last hour</title>";
  svg += "<line x1=\"0\" y1=\"" + std::to_string(kHalf) + "\" x2=\"" + std::to_string(width) + "\" y2=\"" +
         std::to_string(kHalf) + "\" stroke=\"#999\"/>";
  long long accepted = 0, refused = 0;
  for (std::size_t i = 0; i < kActivityMinutes; ++i) {
    const int x = width - static_cast<int>(i + 1) * kBar;
    const int up = activity.accepted[i] * kHalf / most, down = activity.refused[i] * kHalf / most;
    accepted += activity.accepted[i];
    refused += activity.refused[i];
    if (up > 0)
      svg += "<rect class=\"accepted\" x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(kHalf - up) + "\" width=\"" +
             std::to_string(kBar - 1) + "\" height=\"" + std::to_string(up) + "\" fill=\"#2a2\"/>";
    if (down > 0)
      svg += "<rect class=\"refused\" x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(kHalf + 1) + "\" width=\"" +
             std::to_string(kBar - 1) + "\" height=\"" + std::to_string(down) + "\" fill=\"#c22\"/>";
  }
  return "<h2>Last hour</h2><p>accepted <strong id=\"hour-accepted\">" + std::to_string(accepted) +
         "</strong>, refused <strong id=\"hour-refused\">" + std::to_string(refused) + "</strong> (per minute, busiest " +
         std::to_string(most) + ")</p>" + svg + "</svg>\n";
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
  body += activity_chart(status.activity) + folder_section("Waiting", status.waiting) +
          messages_section(status.messages) + refusals_section(status.activity.refusals) +
          folder_section("Bad copies", status.bad_copies) + folder_section("Mail files", status.mail_files);
  return page("DexWeb status", body, Audience::kOperator, kStatusRefreshSeconds);
}

std::string failure_page(const std::string& reason, Audience audience) {
  return page("Not done", "<p class=\"problems\">" + html_escape(reason) + "</p>", audience);
}

}  // namespace dexweb::ctl
