#pragma once
// The web form's fields and the checks that a submission passes before anything is
// written. The form comes from anyone who can reach the page: every field is bounded,
// single-line fields may hold no line break or other control character (a line break
// would start a field of its own in the message file), and text must be UTF-8.
//
// A submission is written into the watched folder as a message file, as every web file is:
// CR LF lines "user=", "frm=", "subject=" and "msg=" last, written under a temporary name
// and renamed to a ".msg" name once complete, so that the module never reads half a file.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dexweb::ctl {

struct WebSubmission {
  std::string user;
  std::string from;
  std::string to;       // the recipient list
  std::string message;  // line breaks become CR LF
};

// Writes text to path as every web file is written: under a temporary name beside it (no
// ".msg"), readable to the watched folder's group (and through its default ACL to the
// module's account) whatever the writer's umask, then renamed into place.
void write_web_file(const std::string& path, const std::string& text);

// Writes the submission's file into folder (created when missing) and returns its path.
std::string submit_web_message(const std::string& folder, const WebSubmission& submission);

struct FormField {
  const char* name;   // the HTML field name
  const char* label;
  std::size_t max_chars;
  bool multi_line;
  bool required;
};

inline constexpr FormField kFormFields[] = {
    {"account", "Account", 40, false, true},
    {"sender", "Sender", 80, false, false},
    {"recipients", "Recipients", 2000, false, false},
    {"message", "Message", 16000, true, true},
};

// The hidden form field that carries the token a post must return (web_server.h).
inline constexpr const char* kFormTokenField = "token";

// The largest request body the server reads: every field at its limit in four-byte
// characters, each byte percent-encoded, with room to spare.
inline constexpr std::size_t kMaxFormBody = 256 * 1024;

using FormValues = std::multimap<std::string, std::string>;

struct FormCheck {
  std::optional<WebSubmission> submission;  // set when problems is empty
  std::vector<std::string> problems;        // one sentence each, for the person
};

// Checks the decoded fields of a request. Fields not named in kFormFields are ignored; a
// field given twice is refused.
FormCheck check_form(const FormValues& values);

// The value of a field, or empty text.
std::string form_value(const FormValues& values, const std::string& name);

// The fields of a request body of content_type "multipart/form-data" (with its boundary) or
// "application/x-www-form-urlencoded"; nothing for another type or a body that does not
// follow its type.
std::optional<FormValues> form_values_of(std::string_view content_type, std::string_view body);

}  // namespace dexweb::ctl
