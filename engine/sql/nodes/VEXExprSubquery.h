// The subquery node: a parenthesised SELECT inside an expression. It stands
// for a scalar subquery (one value), the row subquery of UPDATE (the columns
// of one row), and the operand of EXISTS, IN (subquery) and the comparisons
// quantified by ALL, ANY or SOME.
//
// A subquery is not kept as a parsed tree. The node remembers the command and
// token of the statement's lexer at which its text starts and parses it again
// whenever it needs a fresh query object. A subquery that cannot place all its
// conditions without the outer query refers to it (correlated): it is parsed,
// planned and executed again for every evaluation. An uncorrelated one is
// executed once and its result is read by every later evaluation; IN over it
// also remembers the last value it tested and the answer.
//
// Design notes
//   1. Every operation that parses puts the lexer back where it found it, on
//      every way out, so that the statement around the subquery reads on
//      undisturbed. Only the constructor leaves the lexer after the subquery.
//   2. A run replaces the outer cursor's current record buffer by the record
//      the expression is bound to, for the time of the run, and puts it back
//      on every way out: outer references read that record.
//   3. Nulls: a null tested value makes IN null (the condition node asks
//      nothing) and a quantified comparison False; null values of the subquery
//      never satisfy a comparison, so x op ANY (S) is True only for a row that
//      compares True, and x op ALL (S) is False as soon as a row does not
//      (a null row included). Over an empty subquery ALL is True and ANY False.
//   4. Queries that only ask the type, the size or whether the subquery is
//      correlated parse and plan a query object of their own and free it; the
//      executed query object of an uncorrelated subquery stays untouched.
//
// Threads: as every node, used by the thread evaluating its tree; a run
// borrows the outer cursor, which nothing else may use meanwhile.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sql/nodes/VEXExprNode.h"

namespace db {
class TDataSet;
}

namespace vex {

class TVEXLexer;
class TVEXDataSet;
class TVEXSQLUnion;

class TVEXExprNodeSubquery : public TVEXExprNode {
 public:
  // Called by the grammar with the lexer on the subquery's SELECT (or on the
  // parentheses before it): parses the subquery to move past it (its syntax
  // errors pass on) and decides whether it is correlated. The lexer and
  // Dataset (the statement's query component) must outlive the node.
  TVEXExprNodeSubquery(bool MustHaveOneField, bool MustHaveOneRow, db::TDataSet* Dataset,
                       TVEXLexer* Lexer);
  ~TVEXExprNodeSubquery() override;

  // Binding: the outer query's operator or cursor and record (design note 2).
  // The node does not pass binding into the subquery's own expressions.
  void AssignAO(TVEXAO* AO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;
  void AssignCursor(TVEXCursor* Cursor, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;
  void AssignCursorBuffer(uint8_t* Buffer, bool ApplyToParentQueryFields) override;
  // Whether the subquery can place all its conditions at its own tables or at
  // AO as its outer query.
  bool CanBeAssigned(TVEXAO* AO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                     bool ForHavingClause) override;

  // The first column of the first row; null for an empty result. Raises
  // 20246 "Subquery must have only one result field, but subquery's
  // FieldCount=%d" when one column is required and the result has another
  // number; 20249 "Subquery must have one row, but it contains 0 rows" and
  // 20247 "Subquery must have only one row" when one row is required.
  TVEXVariant& GetDataValue() override;
  // Runs the subquery and reads the columns of its first row (null values
  // for an empty result).
  void ResetSubqueryFieldValues() override;
  // Column FieldNo of the row read by ResetSubqueryFieldValues; nullptr
  // outside the row.
  TVEXVariant* GetSubqueryFieldValue(int32_t FieldNo) override;
  // The type and size of the subquery's first visible column.
  TVEXAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;

  // Whether the subquery returns any row.
  bool Exists();
  // Whether the subquery's first column holds Value (not null),
  // case-sensitively.
  bool IsValueIn(const TVEXVariant& Value);
  // Value Operator ALL / ANY (the first column of every row); design note 3.
  bool QuantifiedCompare(TVEXDataOperator Operator, TVEXQuantifier Quantifier,
                         const TVEXVariant& Value);

  bool Correlated() const { return FCorrelated; }
  // How many times the subquery was executed.
  int32_t ExecutionCount() const { return FExecutionCount; }

 private:
  // A query object parsed afresh from the remembered position; the lexer is
  // left where the parse ended.
  std::unique_ptr<TVEXSQLUnion> ParseSubquery();
  // Executes the subquery when needed (every time when correlated, once
  // otherwise) and runs Action over its result.
  template <class F>
  void RunSubquery(F&& Action);
  // The first visible column's type or size, from a plan of a throw-away
  // query object.
  template <class F>
  auto AskFirstColumn(F&& Ask);

  bool FMustHaveOneField;
  bool FMustHaveOneRow;
  TVEXVariant FValue{bftUnknown};
  std::vector<std::unique_ptr<TVEXVariant>> FFieldValues;
  db::TDataSet* LDataset;
  TVEXLexer* LLexer;
  TVEXAO* LAO = nullptr;
  TVEXCursor* LCursor = nullptr;
  uint8_t* LCursorRecordBuffer = nullptr;
  // The executed query object of an uncorrelated subquery; nullptr before
  // the first run and between the runs of a correlated one.
  std::unique_ptr<TVEXSQLUnion> FSubquery;
  TVEXDataSet* FResult = nullptr;
  int32_t FCommandNo = -1;
  int32_t FTokenNo = -1;
  TVEXVariant FPriorValueToCheck{bftUnknown};
  bool FPriorResult = false;
  bool FPriorResultInitalized = false;
  bool FCorrelated = false;
  int32_t FExecutionCount = 0;
};

}  // namespace vex
