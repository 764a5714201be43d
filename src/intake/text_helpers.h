#pragma once
// Small text helpers of the intake. None of them fails: they return the text, empty text or
// the caller's fallback.

#include <string>
#include <string_view>

#include "util/variant.h"

namespace dexweb {

// The text without any NUL character.
std::string strip_nulls(std::string_view text);
// The text after the first occurrence of delimiter (found without regard to case), or
// fallback when there is none or it starts at the last character.
std::string text_after(std::string_view text, std::string_view delimiter, std::string_view fallback);
// The value as text; Null becomes empty text.
std::string variant_to_text(const Variant& value);
// The text as notifications show it, with N = keep_chars (the Obfuscate_Msg_Chars setting):
// unchanged when N < 1; otherwise the first N and last N characters with a "." for each one
// between, and empty text when the text holds at most 2N characters.
std::string mask_message(std::string_view text, int keep_chars);

}  // namespace dexweb
