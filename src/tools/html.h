#pragma once
// Building HTML from text that nobody vouched for.

#include <string>
#include <string_view>

namespace dexweb::ctl {

// The text with & < > " ' as character references, and bytes that are not UTF-8 replaced
// by their Windows-1252 characters, so that the page stays valid UTF-8.
std::string html_escape(std::string_view text);

}  // namespace dexweb::ctl
