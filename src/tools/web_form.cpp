#include "tools/web_form.h"

#include "util/text.h"

namespace dexweb::ctl {
namespace {

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

}  // namespace

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

}  // namespace dexweb::ctl
