#include "platform/registry_file.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/files.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb::platform {
namespace {

std::string from_utf16le(std::string_view bytes) {
  std::u32string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t u = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
      char32_t lo = static_cast<unsigned char>(bytes[i + 2]) | (static_cast<unsigned char>(bytes[i + 3]) << 8);
      u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
      i += 2;
    }
    out += u;
  }
  return text::to_utf8(out);
}

std::vector<std::string> load_lines(const std::string& path) {
  std::string raw;
  try {
    raw = read_file(path);
  } catch (const RuntimeError&) {
    return {};
  }
  std::string body;
  if (raw.starts_with("\xFF\xFE")) body = from_utf16le(std::string_view(raw).substr(2));
  else if (raw.starts_with("\xEF\xBB\xBF")) body = text::decode_bytes(raw.substr(3));
  else body = text::decode_bytes(raw);
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos <= body.size()) {
    std::size_t nl = body.find('\n', pos);
    std::string line = body.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  return lines;
}

bool is_key_line(const std::string& line) { return line.size() >= 2 && line.front() == '[' && line.back() == ']'; }

std::string key_of(const std::string& line) { return line.substr(1, line.size() - 2); }

// Parses `"Name"=...`; returns false for anything else.
bool parse_value_line(const std::string& line, std::string& name, std::string& rhs) {
  if (line.empty() || line[0] != '"') return false;
  std::size_t i = 1;
  name.clear();
  for (; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    name += line[i];
  }
  if (i + 1 >= line.size() || line[i + 1] != '=') return false;
  rhs = line.substr(i + 2);
  return true;
}

std::optional<RegData> parse_data(const std::string& rhs) {
  if (rhs.size() >= 2 && rhs.front() == '"') {
    std::string out;
    for (std::size_t i = 1; i < rhs.size() && rhs[i] != '"'; ++i) {
      if (rhs[i] == '\\' && i + 1 < rhs.size()) ++i;
      out += rhs[i];
    }
    return out;
  }
  if (text::istarts_with(rhs, "dword:")) {
    char* end = nullptr;
    unsigned long v = std::strtoul(rhs.c_str() + 6, &end, 16);
    if (end != rhs.c_str() + 6) return static_cast<std::uint32_t>(v);
  }
  return std::nullopt;
}

std::string quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

std::string format_value(std::string_view name, const RegData& value) {
  if (auto* s = std::get_if<std::string>(&value)) return quote(name) + "=" + quote(*s);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", std::get<std::uint32_t>(value));
  return quote(name) + "=dword:" + buf;
}

}  // namespace

std::string RegistryFile::default_path() {
  const char* env = std::getenv("VELOTRAX_REGISTRY");
  return env && *env ? env : "/etc/velotrax/velotrax.reg";
}

std::optional<RegData> RegistryFile::read(std::string_view key, std::string_view name) const {
  bool in_key = false;
  std::string value_name, rhs;
  for (const std::string& line : load_lines(path_)) {
    if (is_key_line(line)) in_key = text::iequals(key_of(line), key);
    else if (in_key && parse_value_line(line, value_name, rhs) && text::iequals(value_name, name))
      return parse_data(rhs);
  }
  return std::nullopt;
}

bool RegistryFile::key_exists(std::string_view key) const {
  for (const std::string& line : load_lines(path_))
    if (is_key_line(line) && text::iequals(key_of(line), key)) return true;
  return false;
}

void RegistryFile::write(std::string_view key, std::string_view name, const RegData& value) const {
  std::vector<std::string> lines = load_lines(path_);
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  if (lines.empty()) lines.push_back("Windows Registry Editor Version 5.00");
  std::string value_name, rhs;
  std::size_t insert_at = std::string::npos;
  bool in_key = false, done = false;
  for (std::size_t i = 0; i < lines.size() && !done; ++i) {
    if (is_key_line(lines[i])) {
      if (in_key) break;
      in_key = text::iequals(key_of(lines[i]), key);
      if (in_key) insert_at = i + 1;
    } else if (in_key) {
      if (parse_value_line(lines[i], value_name, rhs) && text::iequals(value_name, name)) {
        lines[i] = format_value(name, value);
        done = true;
      } else if (!lines[i].empty()) {
        insert_at = i + 1;
      }
    }
  }
  if (!done && insert_at != std::string::npos) {
    lines.insert(lines.begin() + static_cast<long>(insert_at), format_value(name, value));
  } else if (!done) {
    lines.push_back("");
    lines.push_back("[" + std::string(key) + "]");
    lines.push_back(format_value(name, value));
  }
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  write_file_atomic(path_, out);
}

}  // namespace dexweb::platform
