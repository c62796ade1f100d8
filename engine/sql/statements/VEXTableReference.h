// One FROM item as the SELECT parser records it: a table, a joined table or a
// derived table. Joins are built in place (MakeJoin), so a chain of joins
// becomes a left-deep tree in the order it is written.
//
// Threads: used by the thread parsing and running its statement.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foundation/VEXConst.h"

namespace db {
class TDataSet;
}

namespace vex {

class TVEXDatabase;
class TVEXExpression;
class TVEXLexer;
class TVEXSQLUnion;

class TVEXTableReference {
 public:
  TVEXTableReference();
  ~TVEXTableReference();
  TVEXTableReference(const TVEXTableReference&) = delete;
  TVEXTableReference& operator=(const TVEXTableReference&) = delete;

  // Turns this reference into the join of its present contents (moved to a
  // new LeftTable) with RightNode; Fields (USING) and OnCondition pass to it.
  // ExternalDBToFree stays here.
  void MakeJoin(std::unique_ptr<TVEXTableReference> RightNode, TVEXJoinType JType, bool IsNatural,
                std::vector<std::string> Fields, std::unique_ptr<TVEXExpression> OnCondition);
  // A derived table: the query expression at the lexer's current token is
  // parsed into SubQuery (its parse errors pass on).
  void MakeSubQuery(TVEXLexer& Lexer, db::TDataSet* Query);

  TVEXTableType TableType = attTable;
  std::string DatabaseName;
  std::string TableName;
  std::string Pseudonym;
  std::string Password;
  bool InMemory = false;
  bool NaturalJoin = false;
  TVEXJoinType JoinType = ajtCross;
  std::unique_ptr<TVEXTableReference> LeftTable;
  std::unique_ptr<TVEXTableReference> RightTable;
  // The columns of USING (...); empty without USING.
  std::vector<std::string> UsingFields;
  // The ON condition.
  std::unique_ptr<TVEXExpression> SearchCondition;
  std::unique_ptr<TVEXSQLUnion> SubQuery;
  // The database component the table of this item runs on.
  std::unique_ptr<TVEXDatabase> ExternalDBToFree;
};

}  // namespace vex
