// Plan building of a SELECT block (see VEXSQLSelect.h, design note 2).
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "components/VEXDatabase.h"
#include "components/VEXTable.h"
#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "sql/algebra/VEXAOGroupBy.h"
#include "sql/algebra/VEXAOTable.h"
#include "sql/algebra/VEXAOTableExpr.h"
#include "sql/expression/VEXExpression.h"
#include "sql/nodes/VEXExprNode.h"
#include "sql/statements/VEXSQLSelect.h"
#include "sql/statements/VEXSQLUnion.h"
#include "sql/statements/VEXTableReference.h"

namespace vex {

namespace {

bool SameText(const std::string& A, const std::string& B) {
  return rtl::UpperCase(A) == rtl::UpperCase(B);
}

}  // namespace

// Whether AO is an outer join (VEXSQLSelectJoins.cpp).
bool IsOuterJoin(const TVEXAO& AO);

void PushDownConditions(TVEXExpression& Expr, TVEXAO& AO, TVEXAO* ParentQueryAO,
                        TVEXCursor* ParentCursor, bool AllowRecurse, bool ForHavingClause) {
  if (AllowRecurse && !IsOuterJoin(AO)) {
    if (TVEXAO* left = AO.LeftAO())
      PushDownConditions(Expr, *left, ParentQueryAO, ParentCursor, true, ForHavingClause);
    if (TVEXAO* right = AO.RightAO())
      PushDownConditions(Expr, *right, ParentQueryAO, ParentCursor, true, ForHavingClause);
  }
  if (Expr.RootNode() == nullptr) return;
  std::unique_ptr<TVEXExpression> parts = Expr.TakeAssignableParts([&](TVEXExprNode& Node) {
    return Node.CanBeAssigned(&AO, ParentQueryAO, ParentCursor, ForHavingClause);
  });
  if (parts != nullptr) AO.SetFilter(std::move(parts));
}

std::unique_ptr<TVEXAO> TVEXSQLSelect::BuildAOTree(db::TDataSet* Query, bool RequestLive,
                                                   TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                                                   bool AllowNotAppliedConditions) {
  ResultDataset = Query;
  FSubqueryHasNotAppliedConditions = false;

  // FROM items, the further ones joined to the tree so far in turn.
  std::unique_ptr<TVEXAO> tree = BuildReferenceAO(*FromTables.front(), Query, ParentQueryAO,
                                                  ParentCursor, AllowNotAppliedConditions);
  for (size_t i = 1; i < FromTables.size(); ++i)
    tree = BuildFromListAO(std::move(tree), *FromTables[i], Query, ParentQueryAO, ParentCursor,
                           AllowNotAppliedConditions);

  bool grouping = GroupByFields.ItemCount > 0 ||
                  (HavingCondition != nullptr && HavingCondition->IsAggregated());
  if (!AllFields)
    for (const TVEXSelectListItem& item : SelectList)
      if (item.ValueExpr != nullptr && item.ValueExpr->IsAggregated()) grouping = true;

  // Computed columns that grouping or a table without an expression operator
  // needs below the select list.
  if (grouping || tree->IsAOTable()) {
    bool computedNeeded = false;
    for (const TVEXSelectListItem& item : SelectList)
      if (item.ValueExpr != nullptr && !item.ValueExpr->IsAggregated() &&
          (!item.ValueExpr->IsField() || item.IsDuplicatedField))
        computedNeeded = true;
    if (computedNeeded) {
      if (grouping) {
        bool groupsByComputed = false;
        for (const TVEXSelectListItem& item : SelectList) {
          if (item.ValueExpr == nullptr || item.ValueExpr->IsField() ||
              item.ValueExpr->IsAggregated())
            continue;
          for (const TVEXSelectListItem& key : GroupByFields.Items)
            if (SameText(item.Pseudonym, key.FieldName)) groupsByComputed = true;
        }
        if (groupsByComputed) {
          tree = std::make_unique<TVEXAOTableExpr>(std::move(tree));
          tree->SetResultFields(SelectList, false);
        }
      } else {
        tree = std::make_unique<TVEXAOTableExpr>(std::move(tree));
      }
    }
  }

  if (SearchCondition != nullptr)
    PushDownConditions(*SearchCondition, *tree, ParentQueryAO, ParentCursor, true, false);

  TVEXAO* groupAO = nullptr;
  if (grouping) {
    try {
      auto group = std::make_unique<TVEXAOGroupBy>(std::move(tree), &GroupByFields, SelectList);
      groupAO = group.get();
      tree = std::move(group);
    } catch (...) {
      FreeSelectListExpressions();
      throw;
    }
  }

  if (tree->HasSetResultFields()) tree = std::make_unique<TVEXAOTableExpr>(std::move(tree));
  const bool plain = !RequestLive && tree->IsAOTable() && TopRowCount < 0;
  std::vector<TVEXSelectListItem> everything;
  std::vector<TVEXSelectListItem>& selected = AllFields ? everything : SelectList;
  tree->SetResultFields(selected, Distinct && !plain);

  if (HavingCondition != nullptr) {
    if (grouping) {
      PushDownConditions(*HavingCondition, *tree, ParentQueryAO, ParentCursor, false, true);
      PushDownConditions(*HavingCondition, *groupAO, ParentQueryAO, ParentCursor, true, true);
    }
    if (!AllowNotAppliedConditions && !HavingCondition->IsEmpty())
      throw EVEXException(20244, "'Having' condition is not applicable");
  }

  ApplyOrderBy(*tree);

  // A grouping never removes duplicate rows itself: a copy of its rows does,
  // in the order just given.
  if (grouping && Distinct) {
    tree = std::make_unique<TVEXAOTableExpr>(std::move(tree));
    tree->SetResultFields(everything, true);
  }

  if (SearchCondition != nullptr) {
    PushDownConditions(*SearchCondition, *tree, ParentQueryAO, ParentCursor, true, false);
    if (!AllowNotAppliedConditions && !SearchCondition->IsEmpty())
      throw EVEXException(30144, "Search condition is not applicable");
  }

  if (TopRowCount >= 0) {
    tree = std::make_unique<TVEXAOSQLTopRowCount>(std::move(tree));
    tree->SetTopRowCount(FirstRowNo, TopRowCount);
  }

  if (plain) {
    tree = std::make_unique<TVEXAOTableExpr>(std::move(tree));
    tree->SetResultFields(selected, Distinct);
  }
  return tree;
}

// ------------------------------------------------------------- FROM items

std::unique_ptr<TVEXAO> TVEXSQLSelect::BuildReferenceAO(TVEXTableReference& Reference,
                                                        db::TDataSet* Query, TVEXAO* ParentQueryAO,
                                                        TVEXCursor* ParentCursor,
                                                        bool AllowNotAppliedConditions) {
  switch (Reference.TableType) {
    case attJoinedTable:
      return BuildJoinedTableAO(Reference, Query, ParentQueryAO, ParentCursor,
                                AllowNotAppliedConditions);
    case attSubQuery:
      return BuildSubQueryAO(Reference, Query, ParentQueryAO, ParentCursor,
                             AllowNotAppliedConditions);
    case attTable:
      break;
  }
  return BuildTableAO(Reference, Query);
}

std::unique_ptr<TVEXAO> TVEXSQLSelect::BuildTableAO(TVEXTableReference& Reference,
                                                    db::TDataSet* Query) {
  std::unique_ptr<TVEXDatabase> database;
  std::unique_ptr<TVEXTable> table;
  CreateTargetTable(Query, Reference.DatabaseName, database, table,
                    Reference.InMemory || QueryInMemory(Query), Reference.Password,
                    Reference.TableName);
  Reference.ExternalDBToFree = std::move(database);
  return std::make_unique<TVEXAOTable>(Reference.TableName, Reference.Pseudonym,
                                       Reference.ExternalDBToFree.get(), std::move(table));
}

std::unique_ptr<TVEXAO> TVEXSQLSelect::BuildSubQueryAO(TVEXTableReference& Reference,
                                                       db::TDataSet* Query, TVEXAO* ParentQueryAO,
                                                       TVEXCursor* ParentCursor,
                                                       bool AllowNotAppliedConditions) {
  std::unique_ptr<TVEXAO> tree = Reference.SubQuery->BuildAOTree(
      Query, true, ParentQueryAO, ParentCursor, AllowNotAppliedConditions);
  if (tree != nullptr) {
    // Several derived tables: one that left conditions is enough to say so.
    if (!Reference.SubQuery->AllConditionsApplied()) FSubqueryHasNotAppliedConditions = true;
    tree->SetTableAlias(Reference.Pseudonym);
  }
  return tree;
}

}  // namespace vex
