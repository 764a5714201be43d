#include "tools/http_message.h"

#include <algorithm>
#include <cstring>

#include "util/text.h"

namespace dexweb::ctl {
namespace {

// A chunk-size line: the size in hex and perhaps extensions, which are ignored.
constexpr std::size_t kMaxChunkLine = 1024;

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), ascii_lower);
  return out;
}

bool is_token_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || std::strchr("!#$%&'*+-.^_`|~", c);
}

bool is_control(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte < 0x20 && c != '\t') || byte == 0x7F;
}

std::string trim_blanks(std::string_view s) { return text::trim_chars(s, " \t"); }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = ascii_lower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

const char* reason_phrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 417: return "Expectation Failed";
    case 421: return "Misdirected Request";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
  }
}

}  // namespace

std::optional<std::string> HttpRequest::header(std::string_view name) const {
  for (const auto& [n, v] : headers)
    if (n == name) return v;
  return std::nullopt;
}

std::size_t HttpRequest::count(std::string_view name) const {
  return static_cast<std::size_t>(std::count_if(headers.begin(), headers.end(), [&](const auto& h) { return h.first == name; }));
}

std::string_view HttpRequest::path() const { return std::string_view(target).substr(0, target.find('?')); }

RequestReader::RequestReader(std::size_t max_body) : max_body_(max_body) {}

RequestReader::Step RequestReader::take(std::string_view bytes) {
  if (phase_ == Phase::kRefused) return Step::kRefused;
  if (phase_ == Phase::kDone) return Step::kDone;
  started_ = started_ || !bytes.empty();
  pending_.append(bytes);
  return advance();
}

RequestReader::Step RequestReader::advance() {
  std::string line;
  for (;;) {
    switch (phase_) {
      case Phase::kRequestLine:
      case Phase::kHeaders:
      case Phase::kTrailers:
        if (!take_line(line)) {
          // + 1: the CR before the LF does not count
          if (phase_ == Phase::kRequestLine && pending_.size() > kMaxRequestLine + 1)
            refuse(414, "The request line is longer than " + std::to_string(kMaxRequestLine) + " bytes.");
          else if (head_bytes_ + pending_.size() > kMaxHeadBytes)
            refuse(431, "The request's header lines are longer than " + std::to_string(kMaxHeadBytes) + " bytes.");
          return phase_ == Phase::kRefused ? Step::kRefused : Step::kMore;
        }
        if (phase_ == Phase::kRequestLine) {
          read_request_line(line);
        } else if (head_bytes_ > kMaxHeadBytes) {
          refuse(431, "The request's header lines are longer than " + std::to_string(kMaxHeadBytes) + " bytes.");
        } else if (line.empty()) {
          if (phase_ == Phase::kTrailers) {
            phase_ = Phase::kDone;
          } else {
            decide_framing();
            if (phase_ != Phase::kRefused) return Step::kHead;
          }
        } else {
          read_header_line(line);
        }
        break;
      case Phase::kBody:
      case Phase::kChunkData:
        move_body_bytes(std::min(body_left_, pending_.size()));
        if (body_left_ > 0) return Step::kMore;
        phase_ = phase_ == Phase::kBody ? Phase::kDone : Phase::kChunkEnd;
        break;
      case Phase::kChunkSize:
        if (!take_line(line)) {
          if (pending_.size() > kMaxChunkLine + 1) refuse(400, "A chunk size line is too long.");
          return phase_ == Phase::kRefused ? Step::kRefused : Step::kMore;
        }
        read_chunk_size(line);
        break;
      case Phase::kChunkEnd:
        if (!take_line(line)) {
          if (pending_.size() > 1) refuse(400, "A chunk does not end where its size says.");
          return phase_ == Phase::kRefused ? Step::kRefused : Step::kMore;
        }
        if (line.empty()) phase_ = Phase::kChunkSize;
        else refuse(400, "A chunk does not end where its size says.");
        break;
      case Phase::kNoBody:
        phase_ = Phase::kDone;
        break;
      case Phase::kDone:
        return Step::kDone;
      case Phase::kRefused:
        return Step::kRefused;
    }
  }
}

// Lines end with LF; the CR before it is dropped. The lines of the head and the trailers
// count towards the head's size.
bool RequestReader::take_line(std::string& line) {
  const auto end = pending_.find('\n');
  if (end == std::string::npos) return false;
  line.assign(pending_, 0, end);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  pending_.erase(0, end + 1);
  if (phase_ != Phase::kChunkSize && phase_ != Phase::kChunkEnd) head_bytes_ += end + 1;
  return true;
}

void RequestReader::read_request_line(const std::string& line) {
  if (line.empty()) {  // empty lines before the request line are allowed, a few
    if (head_bytes_ > kMaxRequestLine) refuse(400, "The request has no request line.");
    return;
  }
  if (line.size() > kMaxRequestLine)
    return refuse(414, "The request line is longer than " + std::to_string(kMaxRequestLine) + " bytes.");
  const auto first = line.find(' ');
  const auto second = first == std::string::npos ? first : line.find(' ', first + 1);
  if (second == std::string::npos || line.find(' ', second + 1) != std::string::npos)
    return refuse(400, "The request line is not METHOD TARGET VERSION.");
  request_.method = line.substr(0, first);
  request_.target = line.substr(first + 1, second - first - 1);
  request_.version = line.substr(second + 1);
  if (request_.method.empty() || !std::all_of(request_.method.begin(), request_.method.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
    return refuse(400, "The request's method is not a word in capitals.");
  if (request_.target.empty() || request_.target[0] != '/' ||
      !std::all_of(request_.target.begin(), request_.target.end(), [](char c) { return c > 0x20 && c < 0x7F; }))
    return refuse(400, "The request's target is not a path.");
  if (request_.version != "HTTP/1.1" && request_.version != "HTTP/1.0")
    return refuse(request_.version.starts_with("HTTP/") ? 505 : 400, "Only HTTP/1.1 and HTTP/1.0 are served.");
  phase_ = Phase::kHeaders;
}

void RequestReader::read_header_line(const std::string& line) {
  if (++head_lines_ > kMaxHeaderLines)
    return refuse(431, "The request has more than " + std::to_string(kMaxHeaderLines) + " header lines.");
  if (line[0] == ' ' || line[0] == '\t') return refuse(400, "Folded header lines are not accepted.");
  const auto colon = line.find(':');
  if (colon == 0 || colon == std::string::npos || !std::all_of(line.begin(), line.begin() + colon, is_token_char))
    return refuse(400, "A header line is not NAME: VALUE.");
  std::string value = trim_blanks(std::string_view(line).substr(colon + 1));
  if (std::any_of(value.begin(), value.end(), is_control)) return refuse(400, "A header value holds a control character.");
  if (phase_ == Phase::kHeaders) request_.headers.emplace_back(lower(std::string_view(line).substr(0, colon)), std::move(value));
}

void RequestReader::decide_framing() {
  const HttpRequest& r = request_;
  if (const auto expect = r.header("expect")) {
    if (lower(*expect) != "100-continue") return refuse(417, "Only \"Expect: 100-continue\" is understood.");
    expects_continue_ = r.version == "HTTP/1.1";
  }
  for (const auto& [name, value] : r.headers)
    if (name == "content-encoding" && lower(value) != "identity")
      return refuse(415, "Compressed request bodies are not accepted.");
  const std::size_t lengths = r.count("content-length");
  if (const std::size_t codings = r.count("transfer-encoding")) {
    if (lengths) return refuse(400, "A request may not have both Content-Length and Transfer-Encoding.");
    if (codings > 1 || lower(*r.header("transfer-encoding")) != "chunked")
      return refuse(501, "Only the chunked transfer coding is accepted.");
    phase_ = Phase::kChunkSize;
  } else if (lengths) {
    const std::string length = *r.header("content-length");
    if (lengths > 1 || length.empty() || length.size() > 18 || !std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return refuse(400, "The request's Content-Length is not one number.");
    body_left_ = std::stoull(length);
    if (body_left_ > max_body_) return refuse(413, "The request's body is larger than " + std::to_string(max_body_) + " bytes.");
    phase_ = body_left_ ? Phase::kBody : Phase::kNoBody;
  } else if (r.method == "POST" || r.method == "PUT") {
    return refuse(411, "A request with a body must give its Content-Length.");
  } else {
    phase_ = Phase::kNoBody;
  }
  expects_continue_ = expects_continue_ && phase_ != Phase::kNoBody;
}

void RequestReader::read_chunk_size(const std::string& line) {
  if (line.size() > kMaxChunkLine) return refuse(400, "A chunk size line is too long.");
  std::size_t size = 0, digits = 0;
  for (; digits < line.size() && hex_digit(line[digits]) >= 0; ++digits) {
    if (digits == 15) return refuse(400, "A chunk size is not a number.");
    size = size * 16 + static_cast<std::size_t>(hex_digit(line[digits]));
  }
  if (digits == 0 || (digits < line.size() && line[digits] != ';' && line[digits] != ' ' && line[digits] != '\t'))
    return refuse(400, "A chunk size is not a number.");
  if (size > max_body_ - request_.body.size())
    return refuse(413, "The request's body is larger than " + std::to_string(max_body_) + " bytes.");
  body_left_ = size;
  phase_ = size ? Phase::kChunkData : Phase::kTrailers;
}

void RequestReader::move_body_bytes(std::size_t count) {
  request_.body.append(pending_, 0, count);
  pending_.erase(0, count);
  body_left_ -= count;
}

void RequestReader::refuse(int status, std::string reason) {
  phase_ = Phase::kRefused;
  pending_.clear();
  refusal_ = Refusal{status, std::move(reason)};
}

std::string response_bytes(const HttpResponse& response, bool with_body) {
  std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " + reason_phrase(response.status) + "\r\n";
  if (!response.content_type.empty()) out += "Content-Type: " + response.content_type + "\r\n";
  for (const auto& [name, value] : response.headers) out += name + ": " + value + "\r\n";
  out += "Content-Length: " + std::to_string(response.body.size()) + "\r\nConnection: close\r\n\r\n";
  if (with_body) out += response.body;
  return out;
}

}  // namespace dexweb::ctl
