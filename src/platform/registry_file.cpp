#include "platform/registry_file.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/files.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb::platform {
namespace {

char32_t utf16_unit(std::string_view bytes, std::size_t i) {
  return static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
}

// A surrogate without its partner stands for no character: it becomes U+FFFD, as an
// unpaired unit cannot be written as UTF-8.
std::string from_utf16le(std::string_view bytes) {
  constexpr char32_t kReplacement = 0xFFFD;
  std::u32string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t u = utf16_unit(bytes, i);
    if (u >= 0xD800 && u <= 0xDBFF) {
      char32_t lo = i + 3 < bytes.size() ? utf16_unit(bytes, i + 2) : 0;
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        out += 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      } else {
        out += kReplacement;
      }
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      out += kReplacement;
    } else {
      out += u;
    }
  }
  return text::to_utf8(out);
}

// Lines end at CR LF, LF or a lone CR alike: a lone CR that ended no line here would end
// one once the file is written back with LF line ends, and lines would change keys.
std::vector<std::string> split_lines(std::string_view body) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < body.size(); ++i) {
    char c = body[i];
    if (c != '\r' && c != '\n') {
      lines.back() += c;
      continue;
    }
    if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
    lines.emplace_back();
  }
  return lines;
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
  // A byte-order mark repeated after the first (a file converted twice) is no text either:
  // kept, it would turn into the first line's start on the way back, and a later read that
  // strips it would see a key line that this read did not.
  while (body.starts_with("\xEF\xBB\xBF")) body.erase(0, 3);
  return split_lines(body);
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

constexpr std::size_t kNone = std::string::npos;

// The line read() takes the value from: the first value line of that name in any section of
// the key.
std::size_t value_line(const std::vector<std::string>& lines, std::string_view key, std::string_view name) {
  bool in_key = false;
  std::string value_name, rhs;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (is_key_line(lines[i])) in_key = text::iequals(key_of(lines[i]), key);
    else if (in_key && parse_value_line(lines[i], value_name, rhs) && text::iequals(value_name, name)) return i;
  }
  return kNone;
}

// Just after the last non-blank line of the key's first section.
std::size_t first_section_end(const std::vector<std::string>& lines, std::string_view key) {
  std::size_t end = kNone;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (is_key_line(lines[i])) {
      if (end != kNone) break;
      if (text::iequals(key_of(lines[i]), key)) end = i + 1;
    } else if (end != kNone && !lines[i].empty()) {
      end = i + 1;
    }
  }
  return end;
}

}  // namespace

std::string RegistryFile::default_path() {
  const char* env = std::getenv("VELOTRAX_REGISTRY");
  return env && *env ? env : "/etc/velotrax/velotrax.reg";
}

std::optional<RegData> RegistryFile::read(std::string_view key, std::string_view name) const {
  std::vector<std::string> lines = load_lines(path_);
  std::size_t at = value_line(lines, key, name);
  if (at == kNone) return std::nullopt;
  std::string value_name, rhs;
  parse_value_line(lines[at], value_name, rhs);
  return parse_data(rhs);
}

void RegistryFile::require_readable() const {
  try {
    read_file(path_, 1);
  } catch (const RuntimeError& e) {
    if (e.number() != err::kFileNotFound) throw;
  }
}

bool RegistryFile::key_exists(std::string_view key) const {
  for (const std::string& line : load_lines(path_))
    if (is_key_line(line) && text::iequals(key_of(line), key)) return true;
  return false;
}

void RegistryFile::write(std::string_view key, std::string_view name, const RegData& value) const {
  // A line end inside the text would start a line of its own when read back: a value line,
  // or even a key line that takes the values below it.
  auto* text_value = std::get_if<std::string>(&value);
  for (std::string_view part : {key, name, text_value ? std::string_view(*text_value) : std::string_view()})
    if (part.find_first_of("\r\n") != std::string_view::npos)
      throw RuntimeError(err::kInvalidProcedureCall, "line end in a registry key, name or value: " + std::string(key));
  std::vector<std::string> lines = load_lines(path_);
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  if (lines.empty()) lines.push_back("Windows Registry Editor Version 5.00");
  if (std::size_t at = value_line(lines, key, name); at != kNone) {
    lines[at] = format_value(name, value);
  } else if (std::size_t end = first_section_end(lines, key); end != kNone) {
    lines.insert(lines.begin() + static_cast<long>(end), format_value(name, value));
  } else {
    lines.push_back("");
    lines.push_back("[" + std::string(key) + "]");
    lines.push_back(format_value(name, value));
  }
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  write_file_atomic(path_, out);
}

}  // namespace dexweb::platform
