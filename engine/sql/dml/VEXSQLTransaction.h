// The transaction statements: START TRANSACTION, COMMIT [FLUSH] and ROLLBACK.
//
// They hand transaction control to the query's database component. The
// transaction belongs to that component (and through it to the engine
// session), not to the statement or the processor: it spans statements and
// executions of any query on the same database component until it is
// committed or rolled back. While it is open, INSERT ... SELECT, UPDATE and
// DELETE take no table locks and no batch updates.
//
// Threads: used by the thread running its statement.
#pragma once

#include "sql/VEXSQLProcessor.h"

namespace vex {

class TVEXDatabase;

class TVEXSQLStartTransaction final : public TVEXSQLCommand {
 public:
  using TVEXSQLCommand::TVEXSQLCommand;
  // START TRANSACTION; what follows is not read. Raises EVEXException 30457
  // "Blank SQL command" without a token, 30458 / 30460 "Token '%s' expected,
  // but '%s' found at line %d, column %d" without START / TRANSACTION, 30459
  // "Unexpected end of SQL command found at line %d, column %d" after START.
  void Parse() override;
  // The database component's StartTransaction, whose refusals pass through.
  void ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
               TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;
};

class TVEXSQLCommit final : public TVEXSQLCommand {
 public:
  using TVEXSQLCommand::TVEXSQLCommand;
  // COMMIT and any words after it; FLUSH among them sets FFlush. Raises 30461
  // "Blank SQL command" and 30462 (as 30458) without COMMIT.
  void Parse() override;
  // The database component's Commit, flushing the file's buffers with FFlush.
  void ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
               TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;

  bool FFlush = false;
};

class TVEXSQLRollback final : public TVEXSQLCommand {
 public:
  using TVEXSQLCommand::TVEXSQLCommand;
  // ROLLBACK; what follows is not read. Raises 30463 "Blank SQL command" and
  // 30464 (as 30458) without ROLLBACK.
  void Parse() override;
  // The database component's Rollback.
  void ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
               TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;
};

// The database component a statement of Query changes rows or transactions
// on. Raises rtl::EInvalidCast for a dataset that is no query and 30524
// "Pointer is nil" when the query has no database component.
TVEXDatabase& QueryDatabase(db::TDataSet* Query);

}  // namespace vex
