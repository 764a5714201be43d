#include "data/internal/bulk_batches.h"

#include "data/internal/blanks.h"
#include "util/text.h"

namespace dexweb {

std::vector<StatementBatch> batch_statements(const Dialect& dialect, NVPList& list, bool use_transaction) {
  std::vector<StatementBatch> batches;
  StatementBatch batch;
  if (use_transaction) {
    batch.text = dialect.batch_transaction_prefix();
    list.Add(dialect.batch_commit_entry());
  }
  const int count = list.Count();
  for (int i = 1; i <= count; ++i) {
    batch.text += rtrim_blanks(list.GetNameByIndex(i));
    if (!batch.text.ends_with(";")) batch.text += ";";
    batch.text += "\r\n";
    ++batch.statements;
    if (i == count || text::length(batch.text) > kBatchCharacters) {
      batches.push_back(std::move(batch));
      batch = StatementBatch{};
    }
  }
  return batches;
}

}  // namespace dexweb
