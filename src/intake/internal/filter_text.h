#pragma once
// The interface filter's text: the recipient field, CR LF, the frm field, CR LF, the
// message; and the reading of the filter's answer in the same shape.

#include <string>
#include <string_view>

#include "intake/web_message.h"

namespace dexweb {

struct SplitLine {
  std::string first;
  std::string rest;
};

// Splits at the first line break: a CR LF that is neither after the first CR nor after the
// first LF, else a CR before the first LF, else an LF. Without a line break both parts are
// empty.
SplitLine split_first_line(std::string_view text);

std::string interface_filter_text(const WebMessage& msg);

// Replaces the recipient field, frm and message with the answer's three parts.
// original_recipient and sender keep the values they had before the filter.
void apply_interface_answer(WebMessage& msg, std::string_view answer);

}  // namespace dexweb
