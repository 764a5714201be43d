#pragma once
// Text inside the module is UTF-8. Every length rule (cut to n characters, Left, Mid, Len)
// counts Unicode code points, so that a cut never splits a character. "Blank" trimming
// removes spaces only, as the module's string functions always have.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dexweb::text {

// Code-point conversions. Invalid UTF-8 never reaches here: decode_bytes() cleans input.
std::u32string to_u32(std::string_view utf8);
std::string to_utf8(std::u32string_view text);
void append_utf8(std::string& out, char32_t cp);

// Bytes read from a file: valid UTF-8 is kept; each byte that is not part of a valid UTF-8
// sequence is taken as one Windows-1252 character.
std::string decode_bytes(std::string_view bytes);

// The bytes as decode_bytes() takes them, without the C0 controls (line breaks and tabs
// included), DEL and the C1 controls U+0080 to U+009F: text that can drive no terminal.
std::string without_controls(std::string_view bytes);

// Encodes text to the Windows-1252 code page; characters outside it become '?'.
std::string encode_1252(std::string_view utf8);
// The Windows-1252 code of a code point, or -1 when it has none.
int code_1252(char32_t cp);

// Every byte below 0x80: each byte is one character and its own code point.
bool is_ascii(std::string_view s);
std::size_t length(std::string_view s);                       // code points
std::string left(std::string_view s, std::size_t n);          // first n code points
std::string right(std::string_view s, std::size_t n);         // last n code points

std::string to_lower(std::string_view s);
std::string to_upper(std::string_view s);
char32_t fold(char32_t cp);  // lower-case mapping of one code point
bool iequals(std::string_view a, std::string_view b);

// Byte offset of the first occurrence of needle at or after byte offset from, or npos.
std::size_t ifind(std::string_view hay, std::string_view needle, std::size_t from = 0);
bool icontains(std::string_view hay, std::string_view needle);
bool istarts_with(std::string_view s, std::string_view prefix);
bool iends_with(std::string_view s, std::string_view suffix);

std::string trim(std::string_view s);   // spaces at both ends
std::string ltrim(std::string_view s);
std::string rtrim(std::string_view s);
// Removes every character of chars from both ends.
std::string trim_chars(std::string_view s, std::string_view chars);

// The text with every line end (LF, or CR LF) written CR LF; a lone CR stays as it is.
std::string with_crlf(std::string_view s);

// Replaces every occurrence, left to right; replacement text is not searched again.
std::string replace_all(std::string_view s, std::string_view what, std::string_view with);
std::string ireplace_all(std::string_view s, std::string_view what, std::string_view with);

// The number that the whole text spells (blanks around it allowed; sign, decimals and an
// exponent accepted), or nullopt when the text is not a number.
std::optional<double> parse_number(std::string_view s);
// Rounds half to even, as the module's integer conversions do.
long long round_half_even(double v);

}  // namespace dexweb::text

namespace dexweb {

// The backslash escapes of the gateway's settings texts: a backslash followed by three
// decimal digits, the first 0 to 2, stands for the Windows-1252 character of that code
// ("a\013\010b" holds a CR LF). There is no escape for the backslash itself.
// Decodes every escape; anything else, including codes 256 to 299 (which have no character)
// and a backslash not followed by three such digits, is kept as written.
std::string decode_escapes(std::string_view text);

}  // namespace dexweb
