// DELETE: rows found by an internal SELECT and deleted through the dataset.
//
//   DELETE FROM [MEMORY] [file.]t [[AS] alias] [PASSWORD 'pw'] [WHERE condition]
//
// The command is read as "SELECT * FROM ..." (its tokens are rewritten in
// place), so DELETE accepts what such a SELECT accepts after the word DELETE.
// The SELECT runs live: its result is the base table restricted to the
// condition (the source). When that view is held as a record bitmap the rows
// are deleted through the source itself; otherwise through a second table
// component on the same table, positioned on each source row in turn.
// Outside a transaction the statement holds the table's write locks and
// deletes in one batch update (VEXDMLCommand.h).
//
// Threads: used by the thread running its statement.
#pragma once

#include <memory>

#include "sql/VEXSQLProcessor.h"

namespace vex {

class TVEXSQLSelect;

class TVEXSQLDelete final : public TVEXSQLCommand {
 public:
  TVEXSQLDelete(TVEXLexer& Lexer, db::TDataSet* Query);
  ~TVEXSQLDelete() override;

  // From the current token (the word DELETE). Raises 30224 "Unexpected end of
  // SQL command found at line %d, column %d" without a token, 30525 "End of
  // SQL command expected, but '%s' found at line %d, column %d" for tokens the
  // SELECT left, and the SELECT's errors ("DELETE t" is 30184, no FROM).
  void Parse() override;
  // Sets RowsAffected to the rows deleted. Raises 20223 "Table is locked"
  // when the write lock was not had within the bounded wait, and what the
  // SELECT and the dataset raise; a failure outside a transaction cancels the
  // batch.
  void ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
               TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;

  std::unique_ptr<TVEXSQLSelect> InternalSelecter;
  // How the last execution deleted: through the source's bitmap view.
  bool DeletedThroughSource = false;
};

}  // namespace vex
