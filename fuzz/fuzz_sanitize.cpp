// The log sanitiser, with the reused builder of the outermost log call and a fresh one.

#include "fuzz_support.h"
#include "logging/log_event.h"
#include "util/string_builder.h"

void dexweb::fuzz::fuzz_input(std::string_view input) {
  // Log text arrives from every corner of the module, not always decoded: take the bytes.
  static dexweb::StringBuilder shared;
  const std::string safe = dexweb::sanitize_log_text(input, shared);

  require(dexweb::fuzz::is_printable_ascii(safe), "the result is printable ASCII");
  require(safe.find('|') == std::string::npos, "the result holds no field separator");
  if (dexweb::fuzz::is_printable_ascii(input) && input.find('|') == std::string_view::npos)
    require(safe == input, "safe text passes unchanged");
  dexweb::StringBuilder fresh;
  require(dexweb::sanitize_log_text(input, fresh) == safe, "a reused builder gives the same result");
}
