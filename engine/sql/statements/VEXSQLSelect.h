// One SELECT block: its clauses, parsed when the block is built, and the
// operator tree that produces its rows.
//
// A block never runs on its own: every SELECT statement, derived table and
// subquery is a query expression (VEXSQLUnion.h) whose leaves are blocks.
// Building the tree consumes the clauses: WHERE, HAVING and ON conjuncts move
// into the operators that can evaluate them, and computed select-list items
// into the operator that computes them. AllConditionsApplied then tells what
// is left.
//
// Design notes
//   1. The select list owns the expressions of its computed items until an
//      operator takes them (the item's ValueExpr is then cleared).
//   2. Plan order: FROM items (joined left to right; a comma list with a WHERE
//      equality between its sides is an inner join), computed columns that
//      grouping needs, WHERE push-down, grouping, the select list, HAVING,
//      ORDER BY, a copy that removes repeated groups for SELECT DISTINCT
//      (grouping never does), the WHERE parts that only computed columns
//      serve, TOP, and a final copy for a query that is not live over one
//      table.
//   3. Grouping is on with GROUP BY or an aggregate in the select list or in
//      HAVING; a HAVING that no operator takes raises, as WHERE does.
//
// Threads: used by the thread parsing and running its statement.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sql/VEXRelationalAlgebra.h"
#include "sql/statements/VEXSQLCursorCommand.h"

namespace vex {

class TVEXExpression;
class TVEXTableReference;

class TVEXSQLSelect final : public TVEXSQLCursorCommand {
 public:
  TVEXSQLSelect(TVEXLexer& Lexer, db::TDataSet* Query);
  ~TVEXSQLSelect() override;

  // The block from the current token (the word SELECT); the lexer is left on
  // the first token after it. Raises (besides the errors of expressions):
  //   30155 "Blank SQL command"; 30156 "SQL token expected, but '%s' found at
  //   line %d, column %d" without SELECT; 30158 / 30159 "Integer expected,
  //   but '%s' found at line %d, column %d" for the TOP numbers; 30160
  //   "Expression expected, ..." for a select item; 30162 "Field pseudonym
  //   expected, ..."; 30165 / 30166 "Table name expected, ..." after INTO and
  //   its dot; 30184 "Token 'FROM' expected, ..."; 30180 / 30181 / 30176
  //   "Table name expected, ..." after FROM, a comma and JOIN; 30178 "Quoted
  //   password expected ..."; 30179 "Field name expected, ..." after "(";
  //   30168 to 30174 "Unexpected token ..." after CROSS, NATURAL, INNER,
  //   LEFT, RIGHT, FULL, OUTER; 30175 without JOIN; 30167 USING without "(";
  //   30185 GROUP without BY; 30161 at an early end; and the ORDER BY errors.
  void Parse() override;
  // False when a derived table left conditions unapplied or WHERE or HAVING
  // still holds a part.
  bool AllConditionsApplied() override;
  // Raises 20270 "ON condition for JOIN is not applicable", 20244 "'Having'
  // condition is not applicable" and 30144 "Search condition is not
  // applicable" (the last two only when AllowNotAppliedConditions is false),
  // and the errors of the operators; what was built is freed.
  std::unique_ptr<TVEXAO> BuildAOTree(db::TDataSet* Query, bool RequestLive, TVEXAO* ParentQueryAO,
                                      TVEXCursor* ParentCursor,
                                      bool AllowNotAppliedConditions) override;

  bool Distinct = false;
  // TOP n, m: n rows from row m (from 1); -1 when absent.
  int32_t TopRowCount = -1;
  int32_t FirstRowNo = -1;
  // The select list is "*".
  bool AllFields = false;
  std::vector<TVEXSelectListItem> SelectList;
  std::vector<std::unique_ptr<TVEXTableReference>> FromTables;
  std::unique_ptr<TVEXExpression> SearchCondition;
  TVEXFields GroupByFields;
  std::unique_ptr<TVEXExpression> HavingCondition;
  bool FSubqueryHasNotAppliedConditions = false;

 private:
  void ParseSelectKeyword();
  void ParseSetQuantifier();
  void ParseTopClause();
  void ParseSelectList();
  void ParseSelectListItem();
  void ParseIntoClause();
  void ParseFromClause();
  // With WithJoins the joins written after the item extend it; the right
  // side of a join takes none, so that a chain of joins is left-deep.
  bool ParseFromItem(TVEXTableReference& Reference, bool WithJoins = true);
  void ParseJoins(TVEXTableReference& Reference);
  void ParseWhereClause();
  void ParseGroupByClause();
  void ParseHavingClause();
  // A new search condition at the current token, aliases of the select list
  // replaced; the token after it becomes current.
  std::unique_ptr<TVEXExpression> ParseCondition(bool InMemory);
  [[noreturn]] void RaiseTokenExpected(int32_t Code, std::string_view Expected) const;

  bool IsColumnSelected(const std::string& TableName, const std::string& FieldName) const;
  bool IsNameUsed(const std::string& TableName, const std::string& Name) const;
  std::string MakeUniquePseudonym(const std::string& TableName, const std::string& FieldName) const;

  std::unique_ptr<TVEXAO> BuildReferenceAO(TVEXTableReference& Reference, db::TDataSet* Query,
                                           TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                                           bool AllowNotAppliedConditions);
  std::unique_ptr<TVEXAO> BuildTableAO(TVEXTableReference& Reference, db::TDataSet* Query);
  std::unique_ptr<TVEXAO> BuildJoinedTableAO(TVEXTableReference& Reference, db::TDataSet* Query,
                                             TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                                             bool AllowNotAppliedConditions);
  std::unique_ptr<TVEXAO> BuildSubQueryAO(TVEXTableReference& Reference, db::TDataSet* Query,
                                          TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                                          bool AllowNotAppliedConditions);
  std::unique_ptr<TVEXAO> BuildFromListAO(std::unique_ptr<TVEXAO> Tree, TVEXTableReference& Next,
                                          db::TDataSet* Query, TVEXAO* ParentQueryAO,
                                          TVEXCursor* ParentCursor, bool AllowNotAppliedConditions);
  void FreeSelectListExpressions() noexcept;
};

// Moves the conjuncts of Expr that AO (with AllowRecurse first its inputs,
// down to an outer join, which keeps what reaches it) can evaluate into the
// filters of those operators; ForHavingClause asks for HAVING's rules.
void PushDownConditions(TVEXExpression& Expr, TVEXAO& AO, TVEXAO* ParentQueryAO,
                        TVEXCursor* ParentCursor, bool AllowRecurse, bool ForHavingClause);

}  // namespace vex
