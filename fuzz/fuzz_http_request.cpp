// The web server's request reader with bytes from the fuzzer, given whole and in pieces of a
// size the input's first byte chooses: it decides the same either way, never holds more
// than its limits allow, and the form decoder takes whatever body it passes.

#include "fuzz_support.h"
#include "tools/http_message.h"
#include "tools/web_form.h"

namespace {

using dexweb::fuzz::require;
using namespace dexweb::ctl;

// Small, so that the fuzzer reaches the limit.
constexpr std::size_t kMaxBody = 512;

// What the reader made of the input: the refusal, or the request.
std::string outcome(std::string_view input, std::size_t piece) {
  RequestReader reader(kMaxBody);
  RequestReader::Step step = RequestReader::Step::kMore;
  for (std::size_t at = 0; step == RequestReader::Step::kMore && at < input.size(); at += piece) {
    step = reader.take(input.substr(at, piece));
    require(reader.held() <= kMaxHeadBytes + kMaxBody + piece, "the reader holds no more than its limits and one piece");
    if (step == RequestReader::Step::kHead) {
      require(reader.request().headers.size() <= kMaxHeaderLines, "at most kMaxHeaderLines headers");
      require(reader.request().body.empty(), "the head comes before the body");
      step = reader.take({});
    }
  }
  if (step == RequestReader::Step::kRefused) return "refused " + std::to_string(reader.refusal().status);
  if (step != RequestReader::Step::kDone) return "incomplete";
  const HttpRequest& r = reader.request();
  require(r.body.size() <= kMaxBody, "the body is within its limit");
  form_values_of(r.header("content-type").value_or(""), r.body);
  std::string out = r.method + " " + r.target + " " + r.version + "\n";
  for (const auto& [name, value] : r.headers) out += name + ": " + value + "\n";
  return out + "\n" + r.body;
}

}  // namespace

void dexweb::fuzz::fuzz_input(std::string_view input) {
  if (input.empty()) return;
  const std::size_t piece = 1 + static_cast<unsigned char>(input[0]) % 64;
  input.remove_prefix(1);
  require(outcome(input, input.size() + 1) == outcome(input, piece), "pieces of any size give the same request");
}
