// The registry file: reading any file, and writing one value into it. The input's first
// five lines are the key, value name and value to write (a value "dword:hex" is a number)
// and the key and value name of a second value; the rest is the file as found.
//
// Writing must give back the value written and leave every other value as it read before.
// Text inside the module is UTF-8, so the names and values are decoded.

#include <cstdlib>
#include <optional>
#include <variant>

#include "fuzz_support.h"
#include "platform/registry_file.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace {

using dexweb::fuzz::require;
using dexweb::platform::RegData;
namespace text = dexweb::text;

RegData value_of(const std::string& line) {
  if (!text::istarts_with(line, "dword:")) return line;
  return static_cast<std::uint32_t>(std::strtoul(line.c_str() + 6, nullptr, 16));
}

}  // namespace

void dexweb::fuzz::fuzz_input(std::string_view input) {
  const auto parts = dexweb::fuzz::take_lines(input, 5);
  const std::string key = text::decode_bytes(parts[0]);
  const std::string name = text::decode_bytes(parts[1]);
  const RegData value = value_of(text::decode_bytes(parts[2]));
  const std::string other_key = text::decode_bytes(parts[3]);
  const std::string other_name = text::decode_bytes(parts[4]);

  const dexweb::platform::RegistryFile registry(dexweb::fuzz::write_input_file("velotrax.reg", parts[5]));
  if (registry.read(key, name)) require(registry.key_exists(key), "a key with a value exists");
  const std::optional<RegData> other_before = registry.read(other_key, other_name);

  // The format has no escape for a line end: such a write is refused and changes nothing.
  const auto* text_value = std::get_if<std::string>(&value);
  if ((key + name + (text_value ? *text_value : "")).find_first_of("\r\n") != std::string::npos) {
    bool refused = false;
    try {
      registry.write(key, name, value);
    } catch (const dexweb::RuntimeError&) {
      refused = true;
    }
    require(refused, "a line end in key, name or value is refused");
    require(registry.read(other_key, other_name) == other_before, "a refused write changes nothing");
    return;
  }
  registry.write(key, name, value);
  require(registry.key_exists(key), "the written key exists");
  require(registry.read(key, name) == value, "reading gives back the value written");
  const bool same_value = text::iequals(key, other_key) && text::iequals(name, other_name);
  if (!same_value) require(registry.read(other_key, other_name) == other_before, "writing leaves other values as they were");
}
