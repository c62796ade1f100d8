// Query expressions: SELECT blocks combined by UNION, EXCEPT (also written
// MINUS) and INTERSECT. Every SELECT the engine runs is one: the processor
// makes one for a statement that starts with SELECT or "(", a derived table
// holds one, and a subquery parses one.
//
// The expression is parsed into a tree of nodes with two operands per set
// operator; INTERSECT binds tighter than UNION and EXCEPT, and operators of
// one level associate to the left. After the operator word the order is
// [ALL] [CORRESPONDING [BY (columns)]]. An ORDER BY written after the last
// block of a set operation orders the whole result; a parenthesised block
// keeps its own.
//
// Threads: used by the thread parsing and running its statement.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sql/statements/VEXSQLCursorCommand.h"

namespace vex {

class TVEXSQLSelect;

enum TVEXQueryExprType : uint8_t { qetSelect, qetUnion, qetExcept, qetIntersect };

class TVEXQueryExprNode {
 public:
  TVEXQueryExprNode();
  ~TVEXQueryExprNode();
  TVEXQueryExprNode(const TVEXQueryExprNode&) = delete;
  TVEXQueryExprNode& operator=(const TVEXQueryExprNode&) = delete;

  // Turns this node in place into a set operator whose left operand is what
  // the node held and whose right operand is RightNode.
  void AddNode(TVEXQueryExprType NewType, std::unique_ptr<TVEXQueryExprNode> RightNode, bool bAll,
               bool bCorresponding, std::vector<std::string> ColumnList);
  bool AllConditionsApplied() const;
  // Some block of the subtree has an INTO table.
  bool HasInto() const;

  TVEXQueryExprType NodeType = qetSelect;
  std::unique_ptr<TVEXQueryExprNode> Left;
  std::unique_ptr<TVEXQueryExprNode> Right;
  // ALL: duplicates stay.
  bool All = false;
  // CORRESPONDING: columns are matched by name.
  bool Corresponding = false;
  // The columns of CORRESPONDING BY (...); empty without BY.
  std::vector<std::string> CorrespondingFields;
  // The block of a leaf.
  std::unique_ptr<TVEXSQLSelect> SelectCommand;
};

class TVEXSQLUnion final : public TVEXSQLCursorCommand {
 public:
  using TVEXSQLCursorCommand::TVEXSQLCursorCommand;
  ~TVEXSQLUnion() override;

  // The expression from the current token; parsing stops at the first token
  // that is neither a set operator nor ORDER BY. Raises 30194 "Token 'SELECT'
  // expected, but '%s' found at line %d, column %d" for a primary that is
  // neither "(" nor SELECT, 30193 (the same text with "(") for CORRESPONDING
  // BY without "(", 20272 "UNION subselect cannot contain INTO caluse. ..."
  // for INTO in a block under a set operator, and the blocks' errors.
  void Parse() override;
  bool AllConditionsApplied() override;
  // The blocks' trees, combined by set operators (both sides built live),
  // ordered by the expression's ORDER BY.
  std::unique_ptr<TVEXAO> BuildAOTree(db::TDataSet* Query, bool RequestLive,
                                      TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                                      bool AllowNotAppliedConditions) override;

  TVEXQueryExprNode* RootNode() const { return FRootNode.get(); }

 private:
  bool ParseAll();
  bool ParseCorresponding(std::vector<std::string>& Columns);
  std::unique_ptr<TVEXQueryExprNode> ParseSelectNode();
  std::unique_ptr<TVEXQueryExprNode> ParseQueryPrimary();
  std::unique_ptr<TVEXQueryExprNode> ParseQueryTerm();
  std::unique_ptr<TVEXQueryExprNode> ParseQueryExpression();
  std::unique_ptr<TVEXAO> BuildNodeAO(TVEXQueryExprNode& Node, bool RequestLive,
                                      TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                                      bool AllowNotAppliedConditions);

  std::unique_ptr<TVEXQueryExprNode> FRootNode;
};

}  // namespace vex
