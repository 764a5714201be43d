// A filter library for the tests. The first word of its settings file says what it does:
//   upper        upper-cases the text in the buffer
//   abort        answers with empty text
//   fill         writes 'x' over every byte from the text field to the end of the buffer
//   echo         answers with the fields it was given
//   file-upper   upper-cases the file concerned in place
//   file-delete  deletes the file concerned
//   count        answers with the number of calls this loaded copy has had
// It is linked with -z nodelete: like a library with unique C++ symbols, it stays loaded.
// The suffix .cc keeps it out of the test program's sources.

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr std::size_t kSize = 16002, kDebug = 200, kAppend = 400, kFile = 401, kText = 601, kTextSize = 15399;

std::string field(const unsigned char* buffer, std::size_t offset) {
  return reinterpret_cast<const char*>(buffer + offset);
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

void answer(unsigned char* buffer, const std::string& text) {
  std::size_t n = text.size() < kTextSize - 1 ? text.size() : kTextSize - 1;
  std::memcpy(buffer + kText, text.data(), n);
  buffer[kText + n] = 0;
}

}  // namespace

extern "C" void RunFilter(unsigned char* buffer) {
  std::string mode;
  std::istringstream(read_all(field(buffer, 0))) >> mode;
  const std::string file = field(buffer, kFile);
  if (mode == "upper") answer(buffer, upper(field(buffer, kText)));
  if (mode == "abort") answer(buffer, "");
  static int calls = 0;
  if (mode == "count") answer(buffer, std::to_string(++calls));
  if (mode == "fill") std::memset(buffer + kText, 'x', kSize - kText);
  if (mode == "echo")
    answer(buffer, "debug=" + field(buffer, kDebug) + "|append=" + std::to_string(buffer[kAppend]) + "|file=" + file +
                       "|text=" + field(buffer, kText));
  if (mode == "file-upper") {
    std::string changed = upper(read_all(file));
    std::ofstream(file, std::ios::binary) << changed;
  }
  if (mode == "file-delete") std::remove(file.c_str());
}
