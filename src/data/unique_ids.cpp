#include "data/unique_ids.h"

#include <algorithm>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/files.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

// Values reserved at a time: one durable write per block.
constexpr int kReservedBlock = 10000;

// The process's one name sequence, and where it is kept across runs.
struct NameSequence {
  int last = 0;
  int reserved = 0;  // values up to here are reserved in the file
  std::string path;  // empty: not kept
};

NameSequence& name_sequence() {
  static NameSequence sequence;
  return sequence;
}

void reserve_up_to(NameSequence& sequence, int value) {
  try {
    platform::write_file_atomic(sequence.path, std::to_string(value) + "\n");
    sequence.reserved = value;
  } catch (const RuntimeError&) {
    // Unkept from here on: names are still never written over another file.
    sequence.path.clear();
  }
}

}  // namespace

int next_local_id() {
  NameSequence& sequence = name_sequence();
  sequence.last = sequence.last >= kMaxUniqueId ? 1 : sequence.last + 1;
  if (!sequence.path.empty() && sequence.last > sequence.reserved)
    reserve_up_to(sequence, std::min(kMaxUniqueId, sequence.last + kReservedBlock - 1));
  return sequence.last;
}

void restart_name_sequence(int last) { name_sequence() = NameSequence{last, 0, {}}; }

void keep_name_sequence(const std::string& path) {
  NameSequence& sequence = name_sequence();
  sequence.path = path;
  long long stored = 0;
  try {
    stored = std::atoll(platform::read_file(path, 32).c_str());
  } catch (const RuntimeError&) {
    // None yet: the first run of the home.
  }
  sequence.last = stored > 0 && stored < kMaxUniqueId ? static_cast<int>(stored) : 0;
  sequence.reserved = sequence.last;
}

std::string unique_name() {
  return std::string(kModuleName) + format_compact(platform::server_now()) + std::to_string(next_local_id());
}

}  // namespace dexweb
