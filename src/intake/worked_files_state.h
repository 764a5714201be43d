#pragma once
// What one run of the module knows about the record of worked files: whether the table is
// there, when it is next pruned (and whether it may be), and the name the run signs its
// records with.

#include <optional>
#include <string>

#include "platform/clock.h"

namespace dexweb {

struct WorkedFilesState {
  enum class Table { Unchecked, Ready };
  Table table = Table::Unchecked;  // Unchecked until it was found or made
  bool warned = false;             // the run said that it could not be made
  std::optional<platform::SteadyPoint> next_prune;  // none: at the next poll
  std::string run_name;                             // host and a random run number
  bool prune_refused = false;                       // the account may not DELETE: no more tries
};

}  // namespace dexweb
