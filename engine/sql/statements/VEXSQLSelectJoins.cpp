// The joins of a SELECT block: joined FROM items and the comma list.
//
// Equality conditions between the two sides become the join's column pairs;
// an outer join keeps what is left of its ON condition as a residual tested
// per pair, while an inner join pushes it down to the operators that can
// test it, and refuses a part that none can (20270).
#include <memory>
#include <string>
#include <utility>

#include "foundation/VEXExcept.h"
#include "sql/algebra/VEXAOJoin.h"
#include "sql/expression/VEXExpression.h"
#include "sql/nodes/VEXExprFieldNode.h"
#include "sql/statements/VEXSQLSelect.h"
#include "sql/statements/VEXTableReference.h"

namespace vex {

namespace {

// Appends the column pairs of Condition's equalities between the two
// operators to the lists; the pairs leave the condition.
int32_t TakeJoinColumns(TVEXExpression* Condition, TVEXAO& Left, TVEXAO& Right, TVEXFields& Fields1,
                        TVEXFields& Fields2) {
  if (Condition == nullptr) return 0;
  return Condition->ExtractJoinConditions(
      &Left, &Right, [&](TVEXExprNode& First, TVEXExprNode& Second) {
        TVEXSelectListItem first, second;
        if (auto* field = dynamic_cast<TVEXExprNodeField*>(&First)) field->FillItem(first);
        if (auto* field = dynamic_cast<TVEXExprNodeField*>(&Second)) field->FillItem(second);
        Fields1.Append(first);
        Fields2.Append(second);
      });
}

// The name a USING column is qualified with on one side.
std::string SideName(const TVEXAO& Side) {
  return Side.TableAlias().empty() ? Side.TableName() : Side.TableAlias();
}

}  // namespace

bool IsOuterJoin(const TVEXAO& AO) {
  const auto* join = dynamic_cast<const TVEXAOJoin*>(&AO);
  return join != nullptr && join->OuterJoin();
}

std::unique_ptr<TVEXAO> TVEXSQLSelect::BuildJoinedTableAO(TVEXTableReference& Reference,
                                                          db::TDataSet* Query,
                                                          TVEXAO* ParentQueryAO,
                                                          TVEXCursor* ParentCursor,
                                                          bool AllowNotAppliedConditions) {
  std::unique_ptr<TVEXAO> left = BuildReferenceAO(*Reference.LeftTable, Query, ParentQueryAO,
                                                  ParentCursor, AllowNotAppliedConditions);
  std::unique_ptr<TVEXAO> right = BuildReferenceAO(*Reference.RightTable, Query, ParentQueryAO,
                                                   ParentCursor, AllowNotAppliedConditions);
  const TVEXJoinType type = Reference.JoinType;
  const bool outer = type == ajtLeftOuter || type == ajtRightOuter || type == ajtFullOuter;

  TVEXFields fields1, fields2;
  const bool byColumns = !Reference.NaturalJoin && type != ajtCross;
  if (byColumns) {
    if (!Reference.UsingFields.empty()) {
      for (const std::string& column : Reference.UsingFields) {
        TVEXSelectListItem first, second;
        first.TableName = SideName(*left);
        first.FieldName = column;
        second.TableName = SideName(*right);
        second.FieldName = column;
        fields1.Append(first);
        fields2.Append(second);
      }
    } else if (Reference.SearchCondition != nullptr) {
      TakeJoinColumns(Reference.SearchCondition.get(), *left, *right, fields1, fields2);
    } else {
      TakeJoinColumns(Reference.LeftTable->SearchCondition.get(), *left, *right, fields1, fields2);
      TakeJoinColumns(Reference.RightTable->SearchCondition.get(), *left, *right, fields1, fields2);
    }
    if (type == ajtInner) TakeJoinColumns(SearchCondition.get(), *left, *right, fields1, fields2);
  }

  std::unique_ptr<TVEXExpression> residual;
  if (outer && Reference.SearchCondition != nullptr && !Reference.SearchCondition->IsEmpty())
    residual = std::move(Reference.SearchCondition);
  auto join = std::make_unique<TVEXAOJoin>(std::move(left), std::move(right), type,
                                           Reference.NaturalJoin, byColumns ? &fields1 : nullptr,
                                           byColumns ? &fields2 : nullptr, std::move(residual));
  if (!outer && Reference.SearchCondition != nullptr && !Reference.SearchCondition->IsEmpty()) {
    PushDownConditions(*Reference.SearchCondition, *join, nullptr, nullptr, true, false);
    if (!Reference.SearchCondition->IsEmpty())
      throw EVEXException(20270, "ON condition for JOIN is not applicable");
  }
  return join;
}

std::unique_ptr<TVEXAO> TVEXSQLSelect::BuildFromListAO(std::unique_ptr<TVEXAO> Tree,
                                                       TVEXTableReference& Next,
                                                       db::TDataSet* Query, TVEXAO* ParentQueryAO,
                                                       TVEXCursor* ParentCursor,
                                                       bool AllowNotAppliedConditions) {
  std::unique_ptr<TVEXAO> next =
      BuildReferenceAO(Next, Query, ParentQueryAO, ParentCursor, AllowNotAppliedConditions);
  TVEXFields fields1, fields2;
  const int32_t pairs = TakeJoinColumns(SearchCondition.get(), *Tree, *next, fields1, fields2);
  return std::make_unique<TVEXAOJoin>(
      std::move(Tree), std::move(next), pairs > 0 ? ajtInner : ajtCross, false,
      pairs > 0 ? &fields1 : nullptr, pairs > 0 ? &fields2 : nullptr, nullptr);
}

}  // namespace vex
