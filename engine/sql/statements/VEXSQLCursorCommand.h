// Cursor statements: the statements that produce rows (a SELECT block, a query
// expression of blocks joined by set operators, a derived table, a subquery).
//
// A cursor statement owns the operator tree its subclass builds, runs it with
// shared locks on every base table, and hands the root's result table on as
// the statement's result. What all of them share lives here: the ORDER BY
// clause and how it orders an operator, the INTO target, the execution with
// its table locks, and the result cursor.
//
// Design notes
//   1. ExecSQL rebuilds the tree on every run; the result (cursor and dataset)
//      stays valid until the next run or the statement's end.
//   2. The locks are taken only while the tree executes. Between attempts the
//      statement holds none and sleeps through os::Clock, so a writer's lock is
//      waited for a bounded time (900 attempts) and a test runs the wait in
//      virtual time.
//   3. A subclass frees the tree (FreeRootAO) before the FROM items whose
//      database components the tree's tables run on.
//
// Threads: a statement is used by the thread running its processor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sql/VEXRelationalAlgebra.h"
#include "sql/VEXSQLProcessor.h"

namespace vex {

// One ORDER BY key.
struct TVEXSortSpecification {
  // Empty when the key is not qualified.
  std::string TableName;
  // A column name, an alias, or a column position in decimal.
  std::string ColumnName;
  bool Descending = false;
};

class TVEXSQLCursorCommand : public TVEXSQLCommand {
 public:
  using TVEXSQLCommand::TVEXSQLCommand;
  ~TVEXSQLCursorCommand() override;

  // Builds the tree (every WHERE and HAVING part must find an operator),
  // points it at the INTO target, locks the base tables, executes, and with
  // IsRoot sets ReadOnly: False only for a live request over one plain table
  // or with an INTO target. Raises 20225 "Table is locked" when the tables
  // were not all share-locked within the bounded wait, 20226 / 20227 "Cannot
  // unlock table" when a lock was not given back between attempts / after
  // execution, and whatever building and executing raise; the locks are given
  // back on every way out.
  void ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
               TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;
  // The engine cursor of the root's result table; null before a run.
  TVEXCursor* GetResultCursor() override;
  // The table component holding the root's result; null before a run.
  db::TDataSet* GetResultDataset() override;

  // True when every WHERE and HAVING condition found an operator.
  virtual bool AllConditionsApplied() = 0;
  // The operator tree of the statement, owned by the caller. With
  // AllowNotAppliedConditions false a condition part that no operator can
  // evaluate raises.
  virtual std::unique_ptr<TVEXAO> BuildAOTree(db::TDataSet* Query, bool RequestLive,
                                              TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                                              bool AllowNotAppliedConditions) = 0;

  TVEXAO* RootAO() const { return FRootAO.get(); }

  // The query the tree was last built for.
  db::TDataSet* ResultDataset = nullptr;
  // The INTO target; IntoTable empty means no INTO, IntoDatabase empty the
  // query's database.
  std::string IntoDatabase;
  std::string IntoTable;
  bool IntoImmediate = false;
  std::vector<TVEXSortSpecification> OrderBySpecs;

  // The bounded wait for the shared table locks: attempts and the pause
  // between two of them.
  static constexpr int32_t kLockAttempts = 900;
  static constexpr uint32_t kLockPauseMs = 100;

 protected:
  // ORDER BY key [, key ...] from the current token, where a key is [table .]
  // column [ASC | DESC]; false, reading nothing, when the token is not ORDER.
  // Raises 30188 "Token '%s' expected, but '%s' found at line %d, column %d"
  // without BY, 30187 "Field name expected, but '%s' found at line %d,
  // column %d" for a key that starts with no name, number or parameter, 30186
  // and 30189 "Unexpected token '%s' found at line %d, column %d" after "."
  // and after ",".
  bool ParseOrderBy();
  // Orders AO's result by OrderBySpecs (ascending unless DESC, every key
  // case-sensitive). A number is a position among AO's visible columns;
  // ordering by a column AO has but does not show makes it available without
  // showing it, except under grouping. Raises 20243 "Invalid field number in
  // ORDER BY clause: %d" and 30195 "Column '%s' from ORDER BY clause not
  // found".
  void ApplyOrderBy(TVEXAO& AO);
  void FreeRootAO() noexcept { FRootAO.reset(); }

 private:
  bool LockQueryTables();
  // False when a lock was not given back.
  bool UnlockQueryTables() noexcept;
  // Copies the root's result into the INTO table.
  void CopyResultInto(db::TDataSet* Query);

  std::unique_ptr<TVEXAO> FRootAO;
};

}  // namespace vex
