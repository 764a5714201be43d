#pragma once
// What the fuzz targets share: the entry point, which hands each target its input as bytes;
// a property check that ends the run so that libFuzzer keeps the input; a private folder for
// targets that must hand the code a real file; and the splitting of an input into a few
// parameter lines and a body.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dexweb::fuzz {

// The target's own part: each fuzz_<name>.cpp defines it; the entry point of libFuzzer
// (fuzz_support.cpp) calls it with every input, unchanged.
void fuzz_input(std::string_view input);

// Prints the broken property to standard error and aborts when ok is false.
void require(bool ok, const char* property);

// A folder made once per process with mkdtemp under $TMPDIR, else /tmp (mode 0700), removed
// again when the process exits normally. Ends with '/'. Aborts when it cannot be made.
const std::string& private_folder();

// Writes bytes to private_folder() + name, replacing an earlier file; returns the path.
// Aborts when the file cannot be written.
std::string write_input_file(std::string_view name, std::string_view bytes);

// The first `count` lines of input (each ended by '\n', without it; missing lines are empty)
// followed by everything after them as one last element.
std::vector<std::string_view> take_lines(std::string_view input, std::size_t count);

// Whether every byte is printable ASCII (space to tilde).
bool is_printable_ascii(std::string_view text);

}  // namespace dexweb::fuzz
