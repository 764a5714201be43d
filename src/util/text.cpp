#include "util/text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace dexweb::text {
namespace {

// Windows-1252 bytes 0x80..0x9F; 0 marks the five unassigned codes, taken as C1 controls.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t from_1252(unsigned char b) {
  if (b >= 0x80 && b <= 0x9F) {
    char32_t cp = kCp1252High[b - 0x80];
    return cp ? cp : char32_t(b);
  }
  return char32_t(b);
}

// Length of the valid UTF-8 sequence at s[i], or 0 when the bytes there are not one.
std::size_t utf8_sequence(std::string_view s, std::size_t i, char32_t& cp) {
  auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  std::size_t n;
  char32_t min;
  if ((b & 0xE0) == 0xC0) { n = 2; cp = b & 0x1F; min = 0x80; }
  else if ((b & 0xF0) == 0xE0) { n = 3; cp = b & 0x0F; min = 0x800; }
  else if ((b & 0xF8) == 0xF0) { n = 4; cp = b & 0x07; min = 0x10000; }
  else return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
bool ascii_iequal(char a, char b) { return ascii_lower(a) == ascii_lower(b); }
bool has_ascii_letter(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return ascii_lower(c) >= 'a' && ascii_lower(c) <= 'z'; });
}

// Byte offset of the code point with index n (0-based), or s.size() past the end.

std::size_t offset_of(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  while (i < s.size() && n > 0) {
    ++i;
    while (i < s.size() && is_continuation(s[i])) ++i;
    --n;
  }
  return i;
}

char32_t upper_of(char32_t cp) {
  if (cp >= 'a' && cp <= 'z') return cp - 32;
  if ((cp >= 0xE0 && cp <= 0xFE && cp != 0xF7)) return cp - 32;
  if (cp == 0xFF) return 0x178;
  if (cp >= 0x100 && cp <= 0x17F && fold(cp - 1) == cp && cp - 1 != cp) return cp - 1;
  if (cp >= 0x3B1 && cp <= 0x3C9 && cp != 0x3C2) return cp - 32;
  if (cp >= 0x430 && cp <= 0x44F) return cp - 32;
  if (cp >= 0x450 && cp <= 0x45F) return cp - 80;
  return cp;
}

}  // namespace

bool is_ascii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::u32string to_u32(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp;
    std::size_t n = utf8_sequence(s, i, cp);
    if (n == 0) {
      cp = from_1252(static_cast<unsigned char>(s[i]));
      n = 1;
    }
    out += cp;
    i += n;
  }
  return out;
}

std::string to_utf8(std::u32string_view t) {
  std::string out;
  out.reserve(t.size());
  for (char32_t cp : t) append_utf8(out, cp);
  return out;
}

std::string decode_bytes(std::string_view bytes) {
  if (is_ascii(bytes)) return std::string(bytes);
  return to_utf8(to_u32(bytes));
}

std::string with_crlf(std::string_view s) { return replace_all(replace_all(s, "\r\n", "\n"), "\n", "\r\n"); }

std::string without_controls(std::string_view bytes) {
  std::string out;
  for (char32_t cp : to_u32(bytes))
    if (cp >= 0x20 && !(cp >= 0x7F && cp <= 0x9F)) append_utf8(out, cp);
  return out;
}

int code_1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (std::size_t k = 0; k < kCp1252High.size(); ++k)
    if (kCp1252High[k] == cp || (kCp1252High[k] == 0 && cp == 0x80 + k)) return int(0x80 + k);
  return -1;
}

std::string encode_1252(std::string_view utf8) {
  if (is_ascii(utf8)) return std::string(utf8);
  std::string out;
  for (char32_t cp : to_u32(utf8)) {
    int code = code_1252(cp);
    out += code < 0 ? '?' : static_cast<char>(code);
  }
  return out;
}

std::size_t length(std::string_view s) {
  std::size_t n = 0;
  for (char c : s)
    if (!is_continuation(c)) ++n;
  return n;
}

std::string left(std::string_view s, std::size_t n) { return std::string(s.substr(0, offset_of(s, n))); }

std::string right(std::string_view s, std::size_t n) {
  std::size_t len = length(s);
  return n >= len ? std::string(s) : std::string(s.substr(offset_of(s, len - n)));
}

char32_t fold(char32_t cp) {
  if (cp >= 'A' && cp <= 'Z') return cp + 32;
  if (cp < 0x80) return cp;
  if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 32;
  if (cp == 0x178) return 0xFF;
  if (cp >= 0x100 && cp <= 0x137 && cp % 2 == 0) return cp + 1;
  if (cp >= 0x139 && cp <= 0x148 && cp % 2 == 1) return cp + 1;
  if (cp >= 0x14A && cp <= 0x177 && cp % 2 == 0) return cp + 1;
  if ((cp == 0x179 || cp == 0x17B || cp == 0x17D)) return cp + 1;
  if (cp >= 0x391 && cp <= 0x3A9 && cp != 0x3A2) return cp + 32;
  if (cp >= 0x410 && cp <= 0x42F) return cp + 32;
  if (cp >= 0x400 && cp <= 0x40F) return cp + 80;
  return cp;
}

std::string to_lower(std::string_view s) {
  if (is_ascii(s)) {
    std::string out(s);
    for (char& c : out)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
  }
  std::u32string t = to_u32(s);
  for (char32_t& cp : t) cp = fold(cp);
  return to_utf8(t);
}

std::string to_upper(std::string_view s) {
  std::u32string t = to_u32(s);
  for (char32_t& cp : t) cp = upper_of(cp);
  return to_utf8(t);
}

bool iequals(std::string_view a, std::string_view b) {
  // Folding never turns a character above ASCII into an ASCII one.
  if (is_ascii(a) && is_ascii(b)) return std::equal(a.begin(), a.end(), b.begin(), b.end(), ascii_iequal);
  return to_lower(a) == to_lower(b);
}

std::size_t ifind(std::string_view hay, std::string_view needle, std::size_t from) {
  if (from > hay.size()) return std::string::npos;
  // An ASCII needle is found byte by byte: folding never turns a character above ASCII into
  // an ASCII one, and multi-byte characters hold no ASCII bytes.
  if (is_ascii(needle) && (!has_ascii_letter(needle) || is_ascii(hay))) {
    auto at = std::search(hay.begin() + static_cast<std::ptrdiff_t>(from), hay.end(), needle.begin(), needle.end(), ascii_iequal);
    return at == hay.end() && !needle.empty() ? std::string::npos : static_cast<std::size_t>(at - hay.begin());
  }
  // Folding keeps the byte length of every code point that this module meets in practice
  // (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic pairs), except U+0178 / U+00FF.
  std::string h = to_lower(hay), n = to_lower(needle);
  if (h.size() != hay.size()) {
    // Rare: lengths differ; search code point by code point instead.
    std::u32string H = to_u32(hay.substr(from)), N = to_u32(needle);
    for (auto& c : H) c = fold(c);
    for (auto& c : N) c = fold(c);
    auto p = H.find(N);
    if (p == std::u32string::npos) return std::string::npos;
    return from + offset_of(hay.substr(from), p);
  }
  return h.find(n, from);
}

bool icontains(std::string_view hay, std::string_view needle) {
  return ifind(hay, needle) != std::string::npos;
}

bool istarts_with(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

bool iends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && iequals(s.substr(s.size() - suffix.size()), suffix);
}

std::string trim_chars(std::string_view s, std::string_view chars) {
  auto b = s.find_first_not_of(chars);
  if (b == std::string_view::npos) return {};
  auto e = s.find_last_not_of(chars);
  return std::string(s.substr(b, e - b + 1));
}

std::string trim(std::string_view s) { return trim_chars(s, " "); }

std::string ltrim(std::string_view s) {
  auto b = s.find_first_not_of(' ');
  return b == std::string_view::npos ? std::string() : std::string(s.substr(b));
}

std::string rtrim(std::string_view s) {
  auto e = s.find_last_not_of(' ');
  return e == std::string_view::npos ? std::string() : std::string(s.substr(0, e + 1));
}

namespace {
template <typename Find>
std::string replace_with(std::string_view s, std::string_view what, std::string_view with, Find find) {
  if (what.empty()) return std::string(s);
  std::string out;
  std::size_t pos = 0;
  for (std::size_t hit; (hit = find(s, what, pos)) != std::string::npos; pos = hit + what.size()) {
    out.append(s.substr(pos, hit - pos));
    out.append(with);
  }
  out.append(s.substr(pos));
  return out;
}
}  // namespace

std::string replace_all(std::string_view s, std::string_view what, std::string_view with) {
  return replace_with(s, what, with, [](std::string_view h, std::string_view n, std::size_t p) {
    return h.find(n, p);
  });
}

std::string ireplace_all(std::string_view s, std::string_view what, std::string_view with) {
  return replace_with(s, what, with, [](std::string_view h, std::string_view n, std::size_t p) {
    return ifind(h, n, p);
  });
}

std::optional<double> parse_number(std::string_view s) {
  std::string t = trim_chars(s, " \t");
  if (t.empty()) return std::nullopt;
  std::size_t i = 0;
  if (t[i] == '+' || t[i] == '-') ++i;
  bool digits = false;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) { ++i; digits = true; }
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) { ++i; digits = true; }
  }
  if (!digits) return std::nullopt;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    std::size_t k = j;
    while (k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]))) ++k;
    if (k == j) return std::nullopt;
    i = k;
  }
  if (i != t.size()) return std::nullopt;
  return std::strtod(t.c_str(), nullptr);
}

long long round_half_even(double v) { return static_cast<long long>(std::nearbyint(v)); }

}  // namespace dexweb::text

namespace dexweb {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The code of the escape starting at text[i], or -1 when none starts there.
int escape_code(std::string_view text, std::size_t i) {
  if (text[i] != '\\' || i + 3 >= text.size()) return -1;
  char a = text[i + 1], b = text[i + 2], c = text[i + 3];
  if (a < '0' || a > '2' || !is_digit(b) || !is_digit(c)) return -1;
  int code = (a - '0') * 100 + (b - '0') * 10 + (c - '0');
  return code <= 255 ? code : -1;
}

}  // namespace

std::string decode_escapes(std::string_view text) {
  if (text.size() < 4 || text.find('\\') == std::string_view::npos) return std::string(text);
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    int code = escape_code(text, i);
    if (code < 0) {
      out += text[i++];
      continue;
    }
    // A lone byte of 0x80 or more is not UTF-8, so decode_bytes reads it as Windows-1252.
    out += text::decode_bytes(std::string(1, static_cast<char>(code)));
    i += 4;
  }
  return out;
}

}  // namespace dexweb
