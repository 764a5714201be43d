#pragma once
// How a list of statements is sent to a server in batches: each statement stripped of
// trailing blanks, ended by ";" and CR LF, and a batch closed once it passes 10000
// characters (and after the last statement).

#include <string>
#include <vector>

#include "data/dialect.h"
#include "util/nvp_list.h"

namespace dexweb {

struct StatementBatch {
  std::string text;
  int statements = 0;
};

inline constexpr std::size_t kBatchCharacters = 10000;

// The statements are the names of list's entries. With use_transaction the first batch
// opens with the dialect's transaction prefix and the commit entry is appended to list
// itself, so it travels as the last statement.
std::vector<StatementBatch> batch_statements(const Dialect& dialect, NVPList& list, bool use_transaction);

}  // namespace dexweb
