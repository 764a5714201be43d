#pragma once
// HTTP/1.1 requests as the web server reads them, and the answers it writes. The reader
// takes bytes as they arrive and decides on every limit before it keeps more: a request
// line longer than kMaxRequestLine is refused as soon as that many bytes came without its
// end, the head may hold at most kMaxHeaderLines lines and kMaxHeadBytes bytes, and a body
// above the reader's limit is refused from its Content-Length or from the chunk size that
// would pass it, never after it was read. It decodes no compression: a body with a
// Content-Encoding is refused. Each connection carries one request (answers say
// "Connection: close").

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dexweb::ctl {

inline constexpr std::size_t kMaxRequestLine = 4096;
inline constexpr std::size_t kMaxHeaderLines = 64;
inline constexpr std::size_t kMaxHeadBytes = 16 * 1024;

struct HttpRequest {
  std::string method;   // "GET", "POST", ...
  std::string target;   // as sent, in origin form: "/submit", "/?x=1"
  std::string version;  // "HTTP/1.1" or "HTTP/1.0"
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case, values trimmed
  std::string body;     // without its framing (chunks joined)

  // The first value of the header (name in lower case), or nothing.
  std::optional<std::string> header(std::string_view name) const;
  std::size_t count(std::string_view name) const;
  // The target without its query.
  std::string_view path() const;
};

// Why a request is not served: an HTTP status and one sentence for the client.
struct Refusal {
  int status;
  std::string reason;
};

class RequestReader {
 public:
  explicit RequestReader(std::size_t max_body);

  enum class Step {
    kMore,     // give it more bytes
    kHead,     // the head is complete (request() holds it, without the body): look at it,
               // then call take() again (it may be with no bytes) to read the body
    kDone,     // request() is complete; bytes after it are ignored
    kRefused,  // refusal() tells why; give it nothing more
  };
  Step take(std::string_view bytes);

  const HttpRequest& request() const { return request_; }
  HttpRequest take_request() { return std::move(request_); }
  const Refusal& refusal() const { return *refusal_; }
  // The client waits for "100 Continue" before it sends the body it announced.
  bool expects_continue() const { return expects_continue_; }
  // Bytes held: the unread rest of what arrived, and the body so far.
  std::size_t held() const { return pending_.size() + request_.body.size(); }
  // Whether any byte of the request arrived yet.
  bool started() const { return started_; }

 private:
  enum class Phase { kRequestLine, kHeaders, kNoBody, kBody, kChunkSize, kChunkData, kChunkEnd, kTrailers, kDone, kRefused };
  Step advance();
  bool take_line(std::string& line);
  void read_request_line(const std::string& line);
  void read_header_line(const std::string& line);
  void decide_framing();
  void read_chunk_size(const std::string& line);
  void move_body_bytes(std::size_t count);
  void refuse(int status, std::string reason);

  std::size_t max_body_;
  Phase phase_ = Phase::kRequestLine;
  std::string pending_;            // arrived, not yet taken apart
  std::size_t head_bytes_ = 0;     // of the head's complete lines (and trailers)
  std::size_t head_lines_ = 0;
  std::size_t body_left_ = 0;      // of the Content-Length or the current chunk
  bool started_ = false;
  bool expects_continue_ = false;
  HttpRequest request_;
  std::optional<Refusal> refusal_;
};

struct HttpResponse {
  int status = 200;
  std::string content_type;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // besides Content-Type, Content-Length, Connection
};

// The bytes of the answer; without the body for a HEAD request.
std::string response_bytes(const HttpResponse& response, bool with_body = true);

}  // namespace dexweb::ctl
