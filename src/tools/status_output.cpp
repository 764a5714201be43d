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
    } else if (static_cast<unsigned char>(c) < 0x20) {
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

std::string pids_text(const std::vector<int>& pids, const char* separator) {
  std::string out;
  for (std::size_t i = 0; i < pids.size(); ++i) out += (i ? separator : "") + std::to_string(pids[i]);
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
  if (!s.processes.empty()) out += "processes: " + pids_text(s.processes, " ") + "\n";
  out += folder_text("waiting", s.waiting);
  out += "last messages: " + std::to_string(s.messages.size()) + "\n";
  for (const MessageFact& m : s.messages)
    out += "  #" + m.record_id + "  " + m.requested + "  " + m.user + " " + m.pin + " from " + m.frm + ": " +
           message_excerpt(m.message) + "\n";
  out += folder_text("bad copies", s.bad_copies);
  out += folder_text("mail files", s.mail_files);
  return out;
}

std::string status_json(const GatewayStatus& s) {
  std::string out = "{\"state\":" + json_string(state_word(s)) + ",\"processes\":[" + pids_text(s.processes, ",") + "],\"control\":{\"found\":" + json_bool(s.control_found) +
                    ",\"run\":" + json_bool(s.run) + ",\"pause\":" + json_bool(s.pause) + ",\"state\":" +
                    json_bool(s.state) + "},\"waiting\":" + folder_json(s.waiting) +
                    ",\"bad_copies\":" + folder_json(s.bad_copies) + ",\"mail_files\":" + folder_json(s.mail_files) +
                    ",\"messages\":[";
  for (std::size_t i = 0; i < s.messages.size(); ++i) out += (i ? "," : "") + message_json(s.messages[i]);
  return out + "]}\n";
}

}  // namespace dexweb::ctl
