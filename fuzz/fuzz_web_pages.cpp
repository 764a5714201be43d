// The web server's pages and the status JSON with texts from the fuzzer in every place that
// shows a text of the gateway or the request (names, rows, refusals, form values, problems):
// the markup is the same as with harmless texts, the pages are UTF-8 and the JSON holds no
// control byte and has the same structure.

#include <vector>

#include "fuzz_support.h"
#include "tools/status_output.h"
#include "tools/web_pages.h"
#include "util/text.h"

namespace {

using dexweb::fuzz::require;
using namespace dexweb::ctl;

constexpr std::size_t kTexts = 8;

// The markup that no text may change: tags and attribute names, without the text between
// tags and the values inside quotes. Escaped texts hold no < > " ' of their own.
std::string markup(std::string_view page) {
  std::string out;
  char quote = 0;
  bool in_tag = false;
  for (const char c : page) {
    if (quote) {
      if (c == quote) quote = 0, out += c;
    } else if (in_tag) {
      out += c;
      if (c == '"' || c == '\'') quote = c;
      if (c == '>') in_tag = false;
    } else if (c == '<') {
      in_tag = true, out += c;
    }
  }
  return out;
}

// The JSON without the contents of its strings.
std::string json_structure(std::string_view json) {
  std::string out;
  bool in_string = false, escaped = false;
  for (const char c : json) {
    if (in_string) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') in_string = false, out += c;
    } else {
      out += c;
      in_string = c == '"';
    }
  }
  return out;
}

struct Pages {
  std::vector<std::string> html;
  std::string json;
};

// Every page, with text(i) wherever a shown text goes.
template <typename Text>
Pages pages(Text text) {
  GatewayStatus status;
  status.module.pid = 42;
  status.control_found = true;
  status.waiting.folder = text(0);
  status.waiting.count = 2;
  status.waiting.newest = {{text(1), text(2)}, {text(3), text(4)}};
  status.bad_copies = status.waiting;
  status.mail_files.folder = text(5);
  status.messages = {{text(0), text(1), text(2), text(3), text(4), text(5)}, {text(6), text(7), text(0), text(1), text(2), text(3)}};
  status.activity.refusals = {{text(4), text(5), text(6), text(7), text(0)}, {text(1), text(2), text(3), text(4), ""}};
  status.activity.accepted[3] = 2;
  const FormValues values{{"account", text(1)}, {"sender", text(2)}, {"recipients", text(3)}, {"message", text(4)}};
  Pages out{{status_page(status)}, status_json(status)};
  for (const Audience audience : {Audience::kPublic, Audience::kOperator}) {
    out.html.push_back(form_page(text(5), audience, values, {text(6), text(7)}));
    out.html.push_back(queued_page(text(0), audience));
    out.html.push_back(failure_page(text(1), audience));
  }
  return out;
}

bool has_control_byte(std::string_view s) {
  for (const char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

}  // namespace

void dexweb::fuzz::fuzz_input(std::string_view input) {
  const auto parts = dexweb::fuzz::take_lines(input, kTexts - 1);
  const Pages fuzzed = pages([&](std::size_t i) { return std::string(parts[i]); });
  const Pages plain = pages([](std::size_t) { return std::string("text"); });
  for (std::size_t i = 0; i < fuzzed.html.size(); ++i) {
    require(markup(fuzzed.html[i]) == markup(plain.html[i]), "no text changes the markup");
    require(dexweb::text::decode_bytes(fuzzed.html[i]) == fuzzed.html[i], "the page is UTF-8");
  }
  require(!has_control_byte(fuzzed.json.substr(0, fuzzed.json.size() - 1)), "the JSON holds no control byte before its line end");
  require(json_structure(fuzzed.json) == json_structure(plain.json), "no text changes the JSON's structure");
  require(dexweb::text::decode_bytes(fuzzed.json) == fuzzed.json, "the JSON is UTF-8");
}
