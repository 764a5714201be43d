#pragma once
// Collects the data layer's log lines for one test.

#include <string>
#include <vector>

#include "data/internal/db_errors.h"

namespace dexweb::test {

struct LogLine {
  LogLevel level;
  std::string text;
};

class LogCapture {
 public:
  LogCapture() {
    set_db_log_observer([this](LogLevel level, std::string_view text) {
      lines.push_back({level, std::string(text)});
    });
  }
  ~LogCapture() { set_db_log_observer({}); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  int count_starting(const std::string& prefix) const {
    int n = 0;
    for (const auto& l : lines) n += l.text.rfind(prefix, 0) == 0;
    return n;
  }

  std::vector<LogLine> lines;
};

}  // namespace dexweb::test
