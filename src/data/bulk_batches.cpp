#include "data/internal/bulk_batches.h"

#include "data/sql_text.h"
#include "util/text.h"

namespace dexweb {
namespace {

// Returns the characters appended.
std::size_t append(SqlStatement& batch, const SqlStatement& statement) {
  const std::size_t offset = batch.text.size();
  batch.text += rtrim_blanks(statement.text);
  for (std::size_t slot : statement.slots) batch.slots.push_back(offset + slot);
  batch.values.insert(batch.values.end(), statement.values.begin(), statement.values.end());
  if (!batch.text.ends_with(";")) batch.text += ";";
  batch.text += "\r\n";
  return text::length(std::string_view(batch.text).substr(offset));
}

}  // namespace

std::vector<StatementBatch> batch_statements(const Dialect& dialect, std::span<const SqlStatement> statements,
                                             bool use_transaction) {
  std::vector<StatementBatch> batches;
  StatementBatch batch;
  if (use_transaction) batch.statement.text = dialect.batch_transaction_prefix();
  std::size_t characters = text::length(batch.statement.text);
  const SqlStatement commit(use_transaction ? dialect.batch_commit_entry() : std::string());
  const std::size_t count = statements.size() + (use_transaction ? 1 : 0);
  for (std::size_t i = 0; i < count; ++i) {
    const SqlStatement& statement = i < statements.size() ? statements[i] : commit;
    if (batch.statements > 0 && batch.statement.values.size() + statement.values.size() > kBatchValues) {
      batches.push_back(std::move(batch));
      batch = StatementBatch{};
      characters = 0;
    }
    characters += append(batch.statement, statement);
    ++batch.statements;
    if (i + 1 == count || characters > kBatchCharacters) {
      batches.push_back(std::move(batch));
      batch = StatementBatch{};
      characters = 0;
    }
  }
  return batches;
}

std::vector<SqlStatement> statements_of(const NVPList& list) {
  std::vector<SqlStatement> out;
  out.reserve(static_cast<std::size_t>(list.Count()));
  for (int i = 1; i <= list.Count(); ++i) out.emplace_back(list.GetNameByIndex(i));
  return out;
}

std::vector<StatementBatch> batch_statements(const Dialect& dialect, NVPList& list, bool use_transaction) {
  const std::vector<SqlStatement> statements = statements_of(list);
  if (use_transaction) list.Add(dialect.batch_commit_entry());
  return batch_statements(dialect, statements, use_transaction);
}

}  // namespace dexweb
