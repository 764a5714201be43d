#include "tools/web_form.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "platform/clock.h"
#include "platform/files.h"
#include "util/datetime.h"
#include "util/text.h"

namespace dexweb::ctl {
namespace {

// Message files are readable to the watched folder's group (and through its default ACL to
// the module's account) whatever the writer's umask.
constexpr unsigned kWebFileMode = 0640;

std::string as_folder(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

// A name that no file of the folder has yet: time stamp and a random part.
std::string new_file_name(const std::string& folder) {
  std::random_device random;
  std::uniform_int_distribution<unsigned> part(0, 0xFFFFFF);
  for (;;) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%06x", part(random));
    std::string name = "web" + format_compact(platform::local_now()) + "-" + suffix + ".msg";
    if (!platform::stat_path(folder + name)) return name;
  }
}

// The file's text.
std::string web_file_text(const WebSubmission& s) {
  return "user=" + s.user + "\r\nfrm=" + s.from + "\r\nsubject=" + s.to + "\r\nmsg=" + text::with_crlf(s.message) + "\r\n";
}

bool is_control(char c, bool multi_line) {
  const auto byte = static_cast<unsigned char>(c);
  if (multi_line && (c == '\r' || c == '\n' || c == '\t')) return false;
  return byte < 0x20 || byte == 0x7F;
}

// The problem with one field's value, or empty text.
std::string field_problem(const FormField& field, const FormValues& values) {
  const std::string label = field.label;
  if (values.count(field.name) > 1) return label + " was sent more than once.";
  const std::string value = form_value(values, field.name);
  if (text::decode_bytes(value) != value) return label + " is not UTF-8 text.";
  for (const char c : value)
    if (is_control(c, field.multi_line))
      return label + (field.multi_line ? " holds a control character." : " must be one line without control characters.");
  if (text::length(value) > field.max_chars)
    return label + " is longer than " + std::to_string(field.max_chars) + " characters.";
  if (field.required && text::trim(value).empty()) return label + " is required.";
  return {};
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent escapes and '+' for a space, as browsers encode form fields.
std::optional<std::string> url_decoded(std::string_view encoded) {
  std::string out;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '+') {
      out += ' ';
    } else if (encoded[i] != '%') {
      out += encoded[i];
    } else {
      if (i + 2 >= encoded.size() || hex_value(encoded[i + 1]) < 0 || hex_value(encoded[i + 2]) < 0) return std::nullopt;
      out += static_cast<char>(hex_value(encoded[i + 1]) * 16 + hex_value(encoded[i + 2]));
      i += 2;
    }
  }
  return out;
}

std::optional<FormValues> url_encoded_values(std::string_view body) {
  FormValues values;
  while (!body.empty()) {
    const std::string_view pair = body.substr(0, body.find('&'));
    body.remove_prefix(std::min(body.size(), pair.size() + 1));
    if (pair.empty()) continue;
    const auto equals = pair.find('=');
    const auto name = url_decoded(pair.substr(0, equals));
    const auto value = url_decoded(equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1));
    if (!name || !value) return std::nullopt;
    values.emplace(*name, *value);
  }
  return values;
}

// The value of a parameter of a header value ("type; name=value; name=\"value\""), or
// nothing. Parameter names compare without regard to case.
std::optional<std::string> parameter(std::string_view header_value, std::string_view wanted) {
  std::string_view rest = header_value.substr(std::min(header_value.size(), header_value.find(';')));
  while (!rest.empty()) {
    rest.remove_prefix(1);  // the ';'
    const auto equals = rest.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string name = text::trim_chars(rest.substr(0, equals), " \t");
    rest.remove_prefix(equals + 1);
    rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(" \t")));
    std::string value;
    if (!rest.empty() && rest[0] == '"') {
      const auto close = rest.find('"', 1);
      if (close == std::string_view::npos) return std::nullopt;
      value = rest.substr(1, close - 1);
      rest.remove_prefix(close + 1);
    } else {
      value = text::trim_chars(rest.substr(0, rest.find(';')), " \t");
    }
    rest.remove_prefix(std::min(rest.size(), rest.find(';')));
    if (text::iequals(name, wanted)) return value;
  }
  return std::nullopt;
}

// The field name a part's header lines give in Content-Disposition, or nothing.
std::optional<std::string> part_name(std::string_view headers) {
  while (!headers.empty()) {
    const std::string_view line = headers.substr(0, headers.find("\r\n"));
    headers.remove_prefix(std::min(headers.size(), line.size() + 2));
    if (text::istarts_with(line, "content-disposition:")) return parameter(line, "name");
  }
  return std::nullopt;
}

// RFC 7578: parts after "--boundary" lines, each with header lines, an empty line and its
// value, the last boundary followed by "--".
std::optional<FormValues> multipart_values(std::string_view boundary, std::string_view body_text) {
  if (boundary.empty() || boundary.size() > 70) return std::nullopt;
  const std::string delimiter = "\r\n--" + std::string(boundary);
  const std::string body = "\r\n" + std::string(body_text);  // the first delimiter may open the body
  std::size_t at = body.find(delimiter);
  FormValues values;
  while (at != std::string::npos) {
    at += delimiter.size();
    if (body.compare(at, 2, "--") == 0) return values;
    if (body.compare(at, 2, "\r\n") != 0) return std::nullopt;
    const std::size_t headers = at + 2;
    const std::size_t headers_end = body.compare(headers, 2, "\r\n") == 0 ? headers : body.find("\r\n\r\n", headers);
    if (headers_end == std::string::npos) return std::nullopt;
    const std::size_t value = headers_end + (headers_end == headers ? 2 : 4);
    const std::size_t next = body.find(delimiter, value);
    if (next == std::string::npos) return std::nullopt;
    if (const auto name = part_name(std::string_view(body).substr(headers, headers_end - headers)))
      values.emplace(*name, body.substr(value, next - value));
    at = next;
  }
  return std::nullopt;
}

}  // namespace

std::optional<FormValues> form_values_of(std::string_view content_type, std::string_view body) {
  const std::string type = text::trim_chars(content_type.substr(0, content_type.find(';')), " \t");
  if (text::iequals(type, "application/x-www-form-urlencoded")) return url_encoded_values(body);
  if (!text::iequals(type, "multipart/form-data")) return std::nullopt;
  const auto boundary = parameter(content_type, "boundary");
  return boundary ? multipart_values(*boundary, body) : std::nullopt;
}

std::string form_value(const FormValues& values, const std::string& name) {
  const auto found = values.find(name);
  return found == values.end() ? std::string() : found->second;
}

FormCheck check_form(const FormValues& values) {
  FormCheck check;
  for (const FormField& field : kFormFields)
    if (std::string problem = field_problem(field, values); !problem.empty()) check.problems.push_back(std::move(problem));
  if (check.problems.empty())
    check.submission = WebSubmission{form_value(values, "account"), form_value(values, "sender"),
                                     form_value(values, "recipients"), form_value(values, "message")};
  return check;
}

void write_web_file(const std::string& path, const std::string& text) {
  platform::write_file_atomic(path, text, kWebFileMode);
}

std::string submit_web_message(const std::string& folder_path, const WebSubmission& submission) {
  const std::string folder = as_folder(folder_path);
  platform::make_dirs(folder);
  const std::string path = folder + new_file_name(folder);
  write_web_file(path, web_file_text(submission));
  return path;
}

}  // namespace dexweb::ctl
