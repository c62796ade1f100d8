// Query expressions (see VEXSQLUnion.h).
#include "sql/statements/VEXSQLUnion.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/VEXExcept.h"
#include "sql/statements/VEXSQLSelect.h"

namespace vex {

// ---------------------------------------------------------------- nodes

TVEXQueryExprNode::TVEXQueryExprNode() = default;
TVEXQueryExprNode::~TVEXQueryExprNode() = default;

void TVEXQueryExprNode::AddNode(TVEXQueryExprType NewType,
                                std::unique_ptr<TVEXQueryExprNode> RightNode, bool bAll,
                                bool bCorresponding, std::vector<std::string> ColumnList) {
  auto left = std::make_unique<TVEXQueryExprNode>();
  left->NodeType = NodeType;
  left->Left = std::move(Left);
  left->Right = std::move(Right);
  left->All = All;
  left->Corresponding = Corresponding;
  left->CorrespondingFields = std::move(CorrespondingFields);
  left->SelectCommand = std::move(SelectCommand);
  Left = std::move(left);
  Right = std::move(RightNode);
  NodeType = NewType;
  CorrespondingFields = std::move(ColumnList);
  All = bAll;
  Corresponding = bCorresponding;
}

bool TVEXQueryExprNode::AllConditionsApplied() const {
  if (NodeType == qetSelect) return SelectCommand->AllConditionsApplied();
  return Left->AllConditionsApplied() && Right->AllConditionsApplied();
}

bool TVEXQueryExprNode::HasInto() const {
  if (NodeType == qetSelect) return !SelectCommand->IntoTable.empty();
  return Left->HasInto() || Right->HasInto();
}

// -------------------------------------------------------------- grammar

TVEXSQLUnion::~TVEXSQLUnion() {
  // The tree's tables run on the blocks' database components.
  FreeRootAO();
}

void TVEXSQLUnion::Parse() {
  ReadCurrentToken();
  FRootNode = ParseQueryExpression();
  const bool ordered = ParseOrderBy();
  if (!ordered && FRootNode->NodeType != qetSelect && FRootNode->Right->NodeType == qetSelect) {
    // A trailing ORDER BY was read by the last block; it orders the whole.
    TVEXSQLSelect& last = *FRootNode->Right->SelectCommand;
    OrderBySpecs = std::move(last.OrderBySpecs);
    last.OrderBySpecs.clear();
  }
  if (FRootNode->NodeType == qetSelect) {
    TVEXSQLSelect& block = *FRootNode->SelectCommand;
    IntoTable = block.IntoTable;
    IntoDatabase = block.IntoDatabase;
    IntoMemory = block.IntoMemory;
    IntoImmediate = block.IntoImmediate;
  } else if (FRootNode->HasInto()) {
    throw EVEXException(20272,
                        "UNION subselect cannot contain INTO caluse. Use SELECT * INTO table FROM "
                        "(select ... union select ...) instead");
  }
}

bool TVEXSQLUnion::ParseAll() {
  if (!IsReservedWordToken(Token, rwALL)) return false;
  ReadNextToken();
  return true;
}

bool TVEXSQLUnion::ParseCorresponding(std::vector<std::string>& Columns) {
  if (!IsReservedWordToken(Token, rwCORRESPONDING)) return false;
  ReadNextToken();
  if (IsReservedWordToken(Token, rwBY)) {
    ReadNextToken();
    if (Token.TokenType != tktLeftParenthesis)
      throw EVEXException(30193, "Token '%s' expected, but '%s' found at line %d, column %d", "(",
                          Token.Text, Token.LineNum, Token.ColumnNum);
    ReadNextToken();
    ParseFieldNameList(Columns);
    if (Token.TokenType == tktRightParenthesis) ReadNextToken();
  }
  return true;
}

std::unique_ptr<TVEXQueryExprNode> TVEXSQLUnion::ParseSelectNode() {
  if (!IsReservedWordToken(Token, rwSELECT))
    throw EVEXException(30194, "Token '%s' expected, but '%s' found at line %d, column %d",
                        "SELECT", Token.Text, Token.LineNum, Token.ColumnNum);
  auto leaf = std::make_unique<TVEXQueryExprNode>();
  leaf->SelectCommand = std::make_unique<TVEXSQLSelect>(*LLex, LQuery);
  leaf->SelectCommand->Parse();
  ReadCurrentToken();
  return leaf;
}

std::unique_ptr<TVEXQueryExprNode> TVEXSQLUnion::ParseQueryPrimary() {
  if (Token.TokenType != tktLeftParenthesis) return ParseSelectNode();
  ReadNextToken();
  std::unique_ptr<TVEXQueryExprNode> node = ParseQueryExpression();
  if (Token.TokenType == tktRightParenthesis) ReadNextToken();
  return node;
}

std::unique_ptr<TVEXQueryExprNode> TVEXSQLUnion::ParseQueryTerm() {
  std::unique_ptr<TVEXQueryExprNode> node = ParseQueryPrimary();
  while (IsReservedWordToken(Token, rwINTERSECT)) {
    ReadNextToken();
    const bool all = ParseAll();
    std::vector<std::string> columns;
    const bool corresponding = ParseCorresponding(columns);
    node->AddNode(qetIntersect, ParseQueryPrimary(), all, corresponding, std::move(columns));
  }
  return node;
}

std::unique_ptr<TVEXQueryExprNode> TVEXSQLUnion::ParseQueryExpression() {
  std::unique_ptr<TVEXQueryExprNode> node = ParseQueryTerm();
  for (;;) {
    TVEXQueryExprType type;
    if (IsReservedWordToken(Token, rwUNION))
      type = qetUnion;
    else if (IsReservedWordToken(Token, rwEXCEPT) || IsReservedWordToken(Token, rwMINUS))
      type = qetExcept;
    else
      return node;
    ReadNextToken();
    const bool all = ParseAll();
    std::vector<std::string> columns;
    const bool corresponding = ParseCorresponding(columns);
    node->AddNode(type, ParseQueryTerm(), all, corresponding, std::move(columns));
  }
}

bool TVEXSQLUnion::AllConditionsApplied() { return FRootNode->AllConditionsApplied(); }

// ------------------------------------------------------------------ plan

std::unique_ptr<TVEXAO> TVEXSQLUnion::BuildAOTree(db::TDataSet* Query, bool RequestLive,
                                                  TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                                                  bool AllowNotAppliedConditions) {
  ResultDataset = Query;
  std::unique_ptr<TVEXAO> tree = BuildNodeAO(*FRootNode, RequestLive, ParentQueryAO, ParentCursor,
                                             AllowNotAppliedConditions);
  ApplyOrderBy(*tree);
  return tree;
}

std::unique_ptr<TVEXAO> TVEXSQLUnion::BuildNodeAO(TVEXQueryExprNode& Node, bool RequestLive,
                                                  TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                                                  bool AllowNotAppliedConditions) {
  if (Node.NodeType == qetSelect)
    return Node.SelectCommand->BuildAOTree(ResultDataset, RequestLive, ParentQueryAO,
                                           ParentCursor, AllowNotAppliedConditions);
  throw EVEXException(20272, "set operations are not available yet");
}

}  // namespace vex
