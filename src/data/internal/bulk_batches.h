#pragma once
// How a list of statements is sent to a server in batches: each statement stripped of
// trailing blanks, ended by ";" and CR LF, and a batch closed once its text passes 10000
// characters, before its bound values would pass 2000 (SQL Server takes 2100 at most), and
// after the last statement. Values bound beside a statement's text stay beside the batch's.

#include <span>
#include <string>
#include <vector>

#include "data/dialect.h"
#include "data/sql_text.h"
#include "util/nvp_list.h"

namespace dexweb {

struct StatementBatch {
  SqlStatement statement;
  int statements = 0;
};

inline constexpr std::size_t kBatchCharacters = 10000;
inline constexpr std::size_t kBatchValues = 2000;

// The list's names as statements, in its order.
std::vector<SqlStatement> statements_of(const NVPList& list);

// With use_transaction the first batch opens with the dialect's transaction prefix and the
// last closes with its commit entry.
std::vector<StatementBatch> batch_statements(const Dialect& dialect, std::span<const SqlStatement> statements,
                                             bool use_transaction);

// The statements are the names of list's entries. With use_transaction the first batch
// opens with the dialect's transaction prefix and the commit entry is appended to list
// itself, so it travels as the last statement.
std::vector<StatementBatch> batch_statements(const Dialect& dialect, NVPList& list, bool use_transaction);

}  // namespace dexweb
