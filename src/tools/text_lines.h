#pragma once
// Splitting a text file's contents into lines, for the tools that read the module's files.

#include <string>
#include <string_view>
#include <vector>

namespace dexweb::ctl {

// The lines of text, each without its LF, CR LF or lone CR; no empty last line for a final
// line end.
inline std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

}  // namespace dexweb::ctl
