#pragma once
// What the module's log file tells of the messages of the last hour: each refusal with its
// reason, and the accepted and refused reports per minute. The module writes a refusal as
// "Message rejected. Recipient: R Sender: S Source: PATH" and the reason on the next line
// (that line is "detail" for most reasons: at log level 1 the reason is not logged).

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "util/datetime.h"

namespace dexweb::ctl {

inline constexpr std::size_t kActivityMinutes = 60;
// How much of the end of the log file is read.
inline constexpr std::size_t kLogTailBytes = 4u << 20;

struct RefusalFact {
  std::string when;       // yyyy-mm-dd hh:nn:ss
  std::string recipient;
  std::string sender;
  std::string source;     // the bad copy
  std::string reason;     // empty when the log does not hold it
};

struct LogActivity {
  DateTime now{};  // the local time the minutes count back from
  // Index 0 is the minute that ends now, kActivityMinutes - 1 the oldest.
  std::array<int, kActivityMinutes> accepted{};
  std::array<int, kActivityMinutes> refused{};
  std::vector<RefusalFact> refusals;  // of the whole tail read, newest first, at most `keep`
};

// Reads the lines of the module's log text (yyyy-mm-dd hh:nn:ss, two blanks, the text) as
// of the local time now; keeps the newest `keep` refusals.
LogActivity parse_log_activity(std::string_view log_text, DateTime now, std::size_t keep);

// The same from the log file Log_Dir + "VTXWeb.log" (its last kLogTailBytes); empty when
// the file cannot be read.
LogActivity read_log_activity(const std::string& log_dir, DateTime now, std::size_t keep);

}  // namespace dexweb::ctl
