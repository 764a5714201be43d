#include "tools/status_output.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "shell/startup.h"
#include "util/text.h"

namespace dexweb::ctl {
namespace {

// Names and texts may hold bytes that are not UTF-8 (file names); JSON wants UTF-8. Control
// characters (C0, DEL and C1) are escaped, so that no printed byte can drive a terminal.
std::string json_string(std::string_view raw) {
  std::string out = "\"";
  for (const char32_t cp : text::to_u32(raw)) {
    if (cp == '"' || cp == '\\') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(cp));
      out += escaped;
    } else {
      text::append_utf8(out, cp);
    }
  }
  return out + "\"";
}

// A field of the text form: what a sender, a file name or a message holds cannot move the
// cursor, forge a line or set the terminal's title.
std::string shown(std::string_view raw) { return text::without_controls(raw); }

const char* json_bool(bool value) { return value ? "true" : "false"; }

std::string folder_json(const FolderFacts& facts) {
  std::string out = "{\"folder\":" + json_string(facts.folder) + ",\"count\":" + std::to_string(facts.count) + ",\"newest\":[";
  for (std::size_t i = 0; i < facts.newest.size(); ++i)
    out += (i ? "," : "") + std::string("{\"name\":") + json_string(facts.newest[i].name) +
           ",\"modified\":" + json_string(facts.newest[i].modified) + "}";
  return out + "]}";
}

std::string refusal_json(const RefusalFact& r) {
  return "{\"when\":" + json_string(r.when) + ",\"recipient\":" + json_string(r.recipient) + ",\"sender\":" +
         json_string(r.sender) + ",\"source\":" + json_string(r.source) + ",\"reason\":" + json_string(r.reason) + "}";
}

std::string poll_json(const GatewayStatus& s) {
  const auto& poll = s.module.poll;
  if (!poll) return "null";
  return "{\"last_poll\":" + std::to_string(poll->last_poll) + ",\"seconds_since\":" +
         std::to_string(s.now_epoch - poll->last_poll) + ",\"interval\":" + std::to_string(poll->poll_interval) +
         ",\"accepted\":" + std::to_string(poll->accepted) + ",\"refused\":" + std::to_string(poll->refused) +
         ",\"messages_accepted\":" + std::to_string(poll->messages_accepted) +
         ",\"messages_refused\":" + std::to_string(poll->messages_refused) + ",\"waiting\":" +
         std::to_string(poll->waiting) + ",\"unreadable\":" + std::to_string(poll->unreadable) + "}";
}

std::vector<std::string> problems(const GatewayStatus& s) {
  std::vector<std::string> out = control_problems(s.control_found, s.run, s.pause);
  if (s.module.poll && s.module.poll->unreadable > 0)
    out.push_back(std::to_string(s.module.poll->unreadable) +
                  " file(s) in the watched folder cannot be read by the module's account; its standard error "
                  "(journalctl -u VTXWeb) names each with the fix");
  return out;
}

std::string module_text(const GatewayStatus& s) {
  std::string out;
  if (s.module.pid) out += "process: " + std::to_string(*s.module.pid) + "\n";
  if (const auto& poll = s.module.poll)
    out += "last poll: " + std::to_string(s.now_epoch - poll->last_poll) + " s ago (every " +
           std::to_string(poll->poll_interval) + " s); this run: messages accepted " +
           std::to_string(poll->messages_accepted) + ", refused " + std::to_string(poll->messages_refused) +
           "; recipients accepted " + std::to_string(poll->accepted) + ", refused " + std::to_string(poll->refused) +
           "; unreadable: " + std::to_string(poll->unreadable) + "\n";
  for (const std::string& problem : problems(s)) out += "problem: " + problem + "\n";
  return out;
}

std::string message_json(const MessageFact& m) {
  return "{\"record_id\":" + json_string(m.record_id) + ",\"user\":" + json_string(m.user) + ",\"pin\":" +
         json_string(m.pin) + ",\"frm\":" + json_string(m.frm) + ",\"requested\":" + json_string(m.requested) +
         ",\"message\":" + json_string(m.message) + "}";
}

std::string folder_text(const char* title, const FolderFacts& facts) {
  std::string out = std::string(title) + ": " + std::to_string(facts.count) + " in " +
                    (facts.folder.empty() ? "(no folder)" : shown(facts.folder)) + "\n";
  for (const FileFact& f : facts.newest) out += "  " + f.modified + "  " + shown(f.name) + "\n";
  return out;
}

struct Sample {
  std::string labels;  // "" or {name="value",...}
  long long value;
};

void family(std::string& out, const char* name, const char* type, const char* help, std::initializer_list<Sample> samples) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  for (const Sample& s : samples) out += name + s.labels + " " + std::to_string(s.value) + "\n";
}

void metric(std::string& out, const char* name, const char* type, const char* help, long long value) {
  family(out, name, type, help, {{"", value}});
}

}  // namespace

std::string message_excerpt(const std::string& message, std::size_t width) {
  std::string flat = shown(text::replace_all(text::replace_all(message, "\r\n", " "), "\n", " "));
  if (text::length(flat) <= width) return flat;
  return text::left(flat, width - 3) + "...";
}

std::string status_text(const GatewayStatus& s) {
  std::string out = "module: " + shown(state_text(s)) + " (" + control_summary(s) + ")\n";
  out += module_text(s);
  out += folder_text("waiting", s.waiting);
  out += "last messages: " + std::to_string(s.messages.size()) + "\n";
  for (const MessageFact& m : s.messages)
    out += "  #" + shown(m.record_id) + "  " + m.requested + "  " + shown(m.user) + " " + shown(m.pin) + " from " +
           shown(m.frm) + ": " + message_excerpt(m.message) + "\n";
  out += folder_text("bad copies", s.bad_copies);
  out += folder_text("mail files", s.mail_files);
  out += "recent refusals: " + std::to_string(s.activity.refusals.size()) + "\n";
  for (const RefusalFact& r : s.activity.refusals)
    out += "  " + shown(r.when) + "  " + shown(r.recipient) + ": " +
           (r.reason.empty() ? std::string("(reason not logged)") : shown(r.reason)) + "\n";
  return out;
}

std::string status_json(const GatewayStatus& s) {
  const std::string pid = s.module.pid ? std::to_string(*s.module.pid) : "";
  std::string problem_list;
  for (const std::string& problem : problems(s)) problem_list += (problem_list.empty() ? "" : ",") + json_string(problem);
  std::string out = "{\"state\":" + json_string(state_word(s)) + ",\"processes\":[" + pid + "],\"pid\":" +
                    (pid.empty() ? "null" : pid) + ",\"poll\":" + poll_json(s) +
                    ",\"message_rows\":" + std::to_string(s.message_rows) + ",\"control\":{\"found\":" + json_bool(s.control_found) +
                    ",\"run\":" + json_bool(s.run) + ",\"pause\":" + json_bool(s.pause) + ",\"state\":" +
                    json_bool(s.state) + "},\"waiting\":" + folder_json(s.waiting) +
                    ",\"bad_copies\":" + folder_json(s.bad_copies) + ",\"mail_files\":" + folder_json(s.mail_files) +
                    ",\"messages\":[";
  for (std::size_t i = 0; i < s.messages.size(); ++i) out += (i ? "," : "") + message_json(s.messages[i]);
  out += "],\"refusals\":[";
  for (std::size_t i = 0; i < s.activity.refusals.size(); ++i) out += (i ? "," : "") + refusal_json(s.activity.refusals[i]);
  return out + "],\"unknown\":" + (s.module.unknown.empty() ? "null" : json_string(s.module.unknown)) +
         ",\"problems\":[" + problem_list + "]}\n";
}

Health judge_health(const GatewayStatus& status) {
  if (!status.module.pid && !status.module.unknown.empty()) return {false, "unknown: " + status.module.unknown};
  if (!status.module.pid) return {false, "not running: nobody holds this home's instance lock"};
  const auto& poll = status.module.poll;
  if (!poll) return {false, "running as process " + std::to_string(*status.module.pid) + " but it has not polled yet"};
  const long long age = status.now_epoch - poll->last_poll;
  const long long limit = std::max<long long>(2LL * poll->poll_interval, kMinHealthySeconds);
  if (age > limit)
    return {false, "last poll " + std::to_string(age) + " s ago, more than " + std::to_string(limit) + " s"};
  return {true, "ok: process " + std::to_string(*status.module.pid) + ", last poll " + std::to_string(age) + " s ago"};
}

std::string metrics_text(const GatewayStatus& status) {
  const PollState poll = status.module.poll.value_or(PollState{});
  std::string out;
  family(out, "dexweb_build_info", "gauge", "The version of dexwebctl serving these metrics, as a label; always 1.",
         {{"{version=\"" + std::string(module_version()) + "\"}", 1}});
  // Whether the module runs is left out when nobody can tell (the lock folder is unreadable).
  if (status.module.pid || status.module.unknown.empty())
    metric(out, "dexweb_up", "gauge", "1 when a process holds this home's instance lock.", status.module.pid ? 1 : 0);
  family(out, "dexweb_messages_total", "counter",
         "Message files worked by the module's current run: accepted when a recipient got a row, refused when none did.",
         {{"{result=\"accepted\"}", poll.messages_accepted}, {"{result=\"refused\"}", poll.messages_refused}});
  family(out, "dexweb_recipients_total", "counter",
         "Recipients accepted (one row each) and refused by the module's current run.",
         {{"{result=\"accepted\"}", poll.accepted}, {"{result=\"refused\"}", poll.refused}});
  metric(out, "dexweb_message_rows", "gauge", "Rows in the messages table.", status.message_rows);
  metric(out, "dexweb_bad_copies", "gauge", "Refused files kept in the bad folder.",
         static_cast<long long>(status.bad_copies.count));
  metric(out, "dexweb_files_waiting", "gauge", "Message files waiting in the watched folder.",
         static_cast<long long>(status.waiting.count));
  metric(out, "dexweb_files_unreadable", "gauge",
         "Message files left in the watched folder because the module's account cannot read them (0 before any poll).",
         poll.unreadable);
  // Without a waiting file there is no oldest one: the series is left out rather than given
  // a value that an age computed from it would misread.
  if (status.waiting.count)
    metric(out, "dexweb_oldest_waiting_file_timestamp_seconds", "gauge",
           "Modification time of the oldest message file waiting in the watched folder; absent when none waits.",
           status.waiting.oldest_epoch);
  metric(out, "dexweb_last_poll_timestamp_seconds", "gauge",
         "Time of the module's last recorded poll; 0 when none was recorded, so that an age computed from it alarms.",
         poll.last_poll);
  return out;
}

}  // namespace dexweb::ctl
