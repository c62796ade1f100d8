// FROM items (see VEXTableReference.h).
#include "sql/statements/VEXTableReference.h"

#include <utility>

#include "components/VEXDatabase.h"
#include "sql/expression/VEXExpression.h"
#include "sql/statements/VEXSQLUnion.h"

namespace vex {

TVEXTableReference::TVEXTableReference() = default;
TVEXTableReference::~TVEXTableReference() = default;

void TVEXTableReference::MakeJoin(std::unique_ptr<TVEXTableReference> RightNode,
                                  TVEXJoinType JType, bool IsNatural,
                                  std::vector<std::string> Fields,
                                  std::unique_ptr<TVEXExpression> OnCondition) {
  auto left = std::make_unique<TVEXTableReference>();
  left->TableType = TableType;
  left->DatabaseName = std::move(DatabaseName);
  left->TableName = std::move(TableName);
  left->Pseudonym = std::move(Pseudonym);
  left->Password = std::move(Password);
  left->InMemory = InMemory;
  left->NaturalJoin = NaturalJoin;
  left->JoinType = JoinType;
  left->LeftTable = std::move(LeftTable);
  left->RightTable = std::move(RightTable);
  left->UsingFields = std::move(UsingFields);
  left->SearchCondition = std::move(SearchCondition);
  left->SubQuery = std::move(SubQuery);
  DatabaseName.clear();
  TableName.clear();
  Pseudonym.clear();
  Password.clear();
  LeftTable = std::move(left);
  RightTable = std::move(RightNode);
  TableType = attJoinedTable;
  JoinType = JType;
  NaturalJoin = IsNatural;
  UsingFields = std::move(Fields);
  SearchCondition = std::move(OnCondition);
}

void TVEXTableReference::MakeSubQuery(TVEXLexer& Lexer, db::TDataSet* Query) {
  TableType = attSubQuery;
  SubQuery = std::make_unique<TVEXSQLUnion>(Lexer, Query);
  SubQuery->Parse();
}

}  // namespace vex
