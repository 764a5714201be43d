#include "tools/status_output.h"

#include <cstdio>

#include "util/text.h"

namespace dexweb::ctl {
namespace {

// Names and texts may hold bytes that are not UTF-8 (file names); JSON wants UTF-8.
std::string json_string(std::string_view raw) {
  std::string out = "\"";
  for (const char c : text::decode_bytes(raw)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

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
         ",\"waiting\":" + std::to_string(poll->waiting) + "}";
}

std::string module_text(const GatewayStatus& s) {
  std::string out;
  if (s.module.pid) out += "process: " + std::to_string(*s.module.pid) + "\n";
  if (const auto& poll = s.module.poll)
    out += "last poll: " + std::to_string(s.now_epoch - poll->last_poll) + " s ago (every " +
           std::to_string(poll->poll_interval) + " s); this run: accepted " + std::to_string(poll->accepted) +
           ", refused " + std::to_string(poll->refused) + "\n";
  return out;
}

std::string message_json(const MessageFact& m) {
  return "{\"record_id\":" + json_string(m.record_id) + ",\"user\":" + json_string(m.user) + ",\"pin\":" +
         json_string(m.pin) + ",\"frm\":" + json_string(m.frm) + ",\"requested\":" + json_string(m.requested) +
         ",\"message\":" + json_string(m.message) + "}";
}

std::string folder_text(const char* title, const FolderFacts& facts) {
  std::string out = std::string(title) + ": " + std::to_string(facts.count) + " in " +
                    (facts.folder.empty() ? "(no folder)" : text::decode_bytes(facts.folder)) + "\n";
  for (const FileFact& f : facts.newest) out += "  " + f.modified + "  " + text::decode_bytes(f.name) + "\n";
  return out;
}

}  // namespace

std::string message_excerpt(const std::string& message, std::size_t width) {
  std::string flat = text::replace_all(text::replace_all(message, "\r\n", " "), "\n", " ");
  if (text::length(flat) <= width) return flat;
  return text::left(flat, width - 3) + "...";
}

std::string status_text(const GatewayStatus& s) {
  std::string out = "module: " + state_word(s) + " (" + control_summary(s) + ")\n";
  out += module_text(s);
  out += folder_text("waiting", s.waiting);
  out += "last messages: " + std::to_string(s.messages.size()) + "\n";
  for (const MessageFact& m : s.messages)
    out += "  #" + m.record_id + "  " + m.requested + "  " + m.user + " " + m.pin + " from " + m.frm + ": " +
           message_excerpt(m.message) + "\n";
  out += folder_text("bad copies", s.bad_copies);
  out += folder_text("mail files", s.mail_files);
  out += "recent refusals: " + std::to_string(s.activity.refusals.size()) + "\n";
  for (const RefusalFact& r : s.activity.refusals)
    out += "  " + r.when + "  " + text::decode_bytes(r.recipient) + ": " +
           (r.reason.empty() ? std::string("(reason not logged)") : text::decode_bytes(r.reason)) + "\n";
  return out;
}

std::string status_json(const GatewayStatus& s) {
  const std::string pid = s.module.pid ? std::to_string(*s.module.pid) : "";
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
  return out + "]}\n";
}

}  // namespace dexweb::ctl
