// Operator trees built by hand over table operators on small in-memory
// tables: name resolution, select lists, values, the fill loop (filter,
// DISTINCT, TOP, ordering), the live table operator, grouping and locks.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "components/VEXDatabase.h"
#include "components/VEXTable.h"
#include "engine/sql/algebra/OperatorFixture.h"
#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "rtl/Variant.h"
#include "sql/VEXLexer.h"
#include "sql/VEXRelationalAlgebra.h"
#include "sql/algebra/VEXAODataset.h"
#include "sql/algebra/VEXAOGroupBy.h"
#include "sql/algebra/VEXAOTable.h"
#include "sql/algebra/VEXAOTableDataset.h"
#include "sql/algebra/VEXAOTableExpr.h"
#include "sql/expression/VEXExpression.h"
#include "sql/nodes/VEXExprNode.h"
#include "storage/VEXCursor.h"
#include "support/NativeError.h"

namespace {

using namespace vex;
using testsupport::RaisesNativeError;
using vextest::Cell;
using vextest::Lines;
using Operators = vextest::OperatorTest;

// An aggregate that counts the rows of its group, as COUNT(*) would.
class CountRows final : public TVEXExprNode {
 public:
  explicit CountRows(int32_t* ReadRows = nullptr)
      : TVEXExprNode(false, false), FReadRows(ReadRows) {}
  TVEXVariant& GetDataValue() override {
    Value.SetNull();
    Value.SetAsInteger(FCount);
    return Value;
  }
  bool IsAggregated() override { return true; }
  bool IsAggregatedCountAll() override { return true; }
  void Init() override { FCount = 0; }
  void Accumulate() override {
    ++FCount;
    if (FReadRows != nullptr) ++*FReadRows;
  }
  void SetCountAll(int32_t RecordCount) override { FCount = RecordCount; }
  TVEXAdvancedFieldType GetDataType() override { return aftInteger; }
  bool CanBeUsedInGroupBy(const std::string&) override { return true; }

 private:
  int32_t FCount = 0;
  int32_t* FReadRows;
};

const std::vector<std::vector<Cell>> kGuests = {
    {1, "Ann", 10}, {2, "bob", 20}, {3, "Cid", 10}, {4, "Bob", nullptr}, {5, "ann", 20}};

// ---- the table operator: a live result over the base table

TEST_F(Operators, TableOperatorProjectsAliasesFiltersAndOrdersTheBaseTable) {
  MakeTable("G", kGuests);
  auto t = Table("G", "X");
  std::vector<TVEXSelectListItem> list{Col("K", "KAY", "x"), Col("ID", "", "G")};
  t->SetResultFields(list, false);
  EXPECT_EQ(Names(*t), (std::vector<std::string>{"KAY", "ID"}));
  t->SetFilter(Take(Expr("ID > 1", true)));
  t->SetIndex("ID", "ID", "");
  t->Execute(true, nullptr, nullptr);
  EXPECT_EQ(Rows(*t), (Lines{"20|5", "-|4", "10|3", "20|2"}));
  // The result is the base table itself, seen through the projection.
  EXPECT_EQ(t->ResultDataset()->TableName(), "G");
  EXPECT_EQ(t->ResultDataset()->FieldName(0, true), "ID");

  auto wrong = Table("G", "X");
  std::vector<TVEXSelectListItem> other{Col("ID", "", "Y")};
  EXPECT_THAT([&] { wrong->SetResultFields(other, false); }, RaisesNativeError(30327));
  EXPECT_THAT([&] { TVEXAOTable bad("NOPE", "", nullptr, Component("NOPE")); },
              RaisesNativeError(10303));
}

TEST_F(Operators, TableOperatorDistinctViewAnswersSelectDistinct) {
  MakeTable("G", kGuests);
  auto t = Table("G");
  std::vector<TVEXSelectListItem> list{Col("K")};
  t->SetResultFields(list, true);
  t->SetIndex("K", "K", "");
  t->Execute(true, nullptr, nullptr);
  EXPECT_EQ(Rows(*t), (Lines{"20", "10", "-"}));
}

// ---- name resolution and values

TEST_F(Operators, NamesResolveThroughTheTreeAndUnhideDownToTheBaseTable) {
  MakeTable("G", kGuests);
  auto t = Table("G", "A");
  TVEXAOTable* base = t.get();
  TVEXAOTableExpr top(std::move(t));
  // Every column starts hidden, here and in the base table.
  EXPECT_TRUE(top.FieldLink(1).IsHidden);
  std::vector<int32_t> numbers;
  EXPECT_EQ(top.FieldExists("name", "a", false, &numbers, false, false), 1);
  EXPECT_EQ(numbers, std::vector<int32_t>{1});
  EXPECT_TRUE(base->FieldLink(1).IsHidden);
  EXPECT_EQ(top.FieldExists("NAME", "G", true, nullptr, false, false), 1);
  EXPECT_FALSE(top.FieldLink(1).IsHidden);
  EXPECT_FALSE(base->FieldLink(1).IsHidden);
  EXPECT_EQ(top.FieldExists("NAME", "OTHER", false, nullptr, false, false), 0);
  EXPECT_EQ(top.FieldExists("ID", "", false, nullptr, false, true), 0) << "hidden ones skipped";
  numbers.clear();
  EXPECT_EQ(top.FieldExists("*", "A", false, &numbers, false, false), 3);
  EXPECT_EQ(top.FieldExists("*", "Z", false, nullptr, false, false), 0);

  // Values of each link kind, and their errors.
  std::vector<TVEXSelectListItem> list{Col("ID"), Computed(Expr("ID * 10"), "TEN")};
  top.SetResultFields(list, false);
  EXPECT_EQ(list[1].FieldName, "TEN") << "an operator above finds the computed column by name";
  base->Execute(false, nullptr, nullptr);
  base->First();
  TVEXVariant v;
  top.GetFieldValue(v, 0, true, false);  // pass-through to the table's dataset link
  EXPECT_EQ(v.AsInteger(), 1);
  top.GetFieldValue(v, 3, true, false);  // computed
  EXPECT_EQ(v.AsInteger(), 10);
  EXPECT_THAT([&] { top.GetFieldValue(v, 2, true, false); }, RaisesNativeError(10310));
  top.GetFieldValue(v, 2, true, true);
  EXPECT_EQ(v.AsInteger(), 10) << "K of the first row";
  EXPECT_THAT([&] { top.GetFieldValue(v, 4, true, false); }, RaisesNativeError(10307));
  EXPECT_THAT([&] { top.GetFieldName(-1, false); }, RaisesNativeError(10306));
  EXPECT_THAT([&] { top.GetFieldType(9); }, RaisesNativeError(10376));
  EXPECT_THAT([&] { top.GetFieldSize(9); }, RaisesNativeError(10377));
  EXPECT_THAT([&] { top.GetFieldPrecision(9); }, RaisesNativeError(10378));
  EXPECT_THAT([&] { top.GetFieldNameByVisibleNumber(2); }, RaisesNativeError(20243));
  EXPECT_EQ(top.GetFieldName(0, false), "ID") << "down to the table's field";
  EXPECT_EQ(top.GetFieldNameByVisibleNumber(1), "TEN");
  EXPECT_EQ(top.GetFieldNoByVisibleNumber(1), 3);
}

TEST_F(Operators, SelectListNamesAliasesExprNamesAnd10305) {
  MakeTable("G", kGuests);
  TVEXAOTableExpr top(Table("G"));
  std::vector<TVEXSelectListItem> list{Col("name", "WHO"), Computed(Expr("K + 1")), Col("id")};
  top.SetResultFields(list, false);
  const std::vector<std::string> names = Names(top);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], "WHO");
  EXPECT_EQ(names[1].rfind("Expr{", 0), 0u) << names[1];
  EXPECT_EQ(names[2], "id") << "shown as written";

  TVEXAOTableExpr bad(Table("G"));
  std::vector<TVEXSelectListItem> unknown{Col("NOPE")};
  EXPECT_THAT([&] { bad.SetResultFields(unknown, false); }, RaisesNativeError(10305));
}

TEST_F(Operators, FilterPartsGoToTheOperatorAndColumnsBindToTheOuterQuery) {
  MakeTable("G", kGuests);
  MakeTable("H", {{7, "Ann", 1}});
  auto t = Table("G");
  TVEXAOTable* base = t.get();
  TVEXAOTableExpr top(std::move(t));
  TVEXExpression* where = Expr("ID > 2 AND NOSUCH = 1", true);
  ASSERT_TRUE(ApplyFilterParts(*where, *base, nullptr, nullptr));
  ASSERT_NE(base->FilterExpr(), nullptr);
  EXPECT_FALSE(where->IsEmpty()) << "the part no operator knows stays";
  EXPECT_FALSE(ApplyFilterParts(*where, *base, nullptr, nullptr));
  std::vector<TVEXSelectListItem> list{Col("ID")};
  top.SetResultFields(list, false);
  top.Execute(true, nullptr, nullptr);
  EXPECT_EQ(Rows(top), (Lines{"3", "4", "5"}));

  // A column the operator lacks binds to the outer query's operator.
  TVEXAOTableExpr outer(Table("H"));
  std::vector<TVEXSelectListItem> outerList{Col("NAME", "OUTERNAME")};
  outer.SetResultFields(outerList, false);
  outer.Execute(true, nullptr, nullptr);
  auto inner = Table("G");
  TVEXExpression* correlated = Expr("OUTERNAME = NAME", true);
  correlated->AssignAO(inner.get(), &outer, nullptr);
  inner->Execute(false, nullptr, nullptr);
  Lines matches;
  for (inner->First(); !inner->Eof(); inner->Next())
    if (correlated->GetResult()) {
      TVEXVariant v;
      inner->GetFieldValue(v, 0, true, true);
      matches.push_back(v.AsAnsiString());
    }
  EXPECT_EQ(matches, (Lines{"1"}));
}

TEST_F(Operators, JoinColumnNamesAreMadeUniqueAndSourcelessLinksRaise) {
  MakeTable("G", kGuests);
  class Pair final : public TVEXAO {
   public:
    Pair(std::unique_ptr<TVEXAO> L, std::unique_ptr<TVEXAO> R) {
      InitAO(std::move(L), std::move(R), "", "");
      for (int32_t i = 0; i < LeftAO()->FieldCount(); ++i) Pass(LeftAO(), i);
      for (int32_t i = 0; i < RightAO()->FieldCount(); ++i) Pass(RightAO(), i);
      MakeFieldNamesUnique();
    }
    void Pass(TVEXAO* From, int32_t No) {
      TVEXFieldLink link;
      link.AO = From;
      link.FieldNo = No;
      link.IsHidden = true;
      AddFieldLink(std::move(link));
    }
    void AddBare() { AddFieldLink(TVEXFieldLink{}); }
  };
  auto inner = std::make_unique<Pair>(Table("G"), Table("G"));
  Pair outer(std::move(inner), Table("G"));
  std::vector<std::string> names;
  for (int32_t i = 0; i < outer.FieldCount(); ++i)
    if (outer.FieldLink(i).FieldName.rfind("ID", 0) == 0)
      names.push_back(outer.FieldLink(i).FieldName);
  EXPECT_EQ(names, (std::vector<std::string>{"ID", "ID_1", "ID_12"}));
  // The first match of an ambiguous name wins.
  std::vector<int32_t> numbers;
  outer.FieldExists("K", "", false, &numbers, false, false);
  ASSERT_FALSE(numbers.empty());
  EXPECT_EQ(numbers[0], 2);
  outer.AddBare();
  TVEXVariant v;
  EXPECT_THAT([&] { outer.GetFieldValue(v, outer.FieldCount() - 1, true, true); },
              RaisesNativeError(10309));
}

// ---- the fill loop

TEST_F(Operators, FillFiltersOrdersAfterTheFillAndDropsItsTemporaryTable) {
  MakeTable("G", kGuests);
  std::string resultName;
  {
    TVEXAOTableExpr top(Table("G"));
    std::vector<TVEXSelectListItem> list{Col("NAME"), Computed(Expr("ID * 2"), "TWICE")};
    top.SetResultFields(list, false);
    top.SetFilter(Take(Expr("TWICE > 2", true)));
    top.SetIndex("NAME", "", "");
    top.Execute(true, nullptr, nullptr);
    EXPECT_TRUE(top.IsMaterialized());
    EXPECT_EQ(top.LeftAO(), nullptr) << "inputs are freed";
    // Texts sort by the collation: lower case before upper case.
    EXPECT_EQ(Rows(top), (Lines{"ann|10", "bob|4", "Bob|8", "Cid|6"}));
    resultName = top.ResultDataset()->TableName();
    EXPECT_EQ(resultName.rfind("TEMPORARY_TABLE_{", 0), 0u) << resultName;
    EXPECT_TRUE(TempTableExists(resultName));
    // The result table shows the select list's names.
    TVEXTable& shown = dynamic_cast<TVEXAOTableDataset&>(*top.ResultDataset()).Table();
    ASSERT_EQ(shown.Fields().Count(), 2);
    EXPECT_EQ(shown.Fields()[1]->FieldName(), "TWICE");
  }
  EXPECT_FALSE(TempTableExists(resultName));
}

TEST_F(Operators, ResultTablesStayInMemoryWhenTheDatabaseDisablesTempFiles) {
  MakeTable("G", kGuests);
  for (const bool disable : {false, true}) {
    std::unique_ptr<TVEXTable> g = Component("G");
    g->Open();
    TVEXDatabase* database = g->Database();
    ASSERT_NE(database, nullptr);
    // The operator takes the setting when it is made (the component is
    // shared by every test).
    database->SetDisableTempFiles(disable);
    auto t = std::make_unique<TVEXAOTable>("G", "", database, std::move(g));
    database->SetDisableTempFiles(false);
    auto inner = std::make_unique<TVEXAOTableExpr>(std::move(t));
    TVEXAOTableExpr top(std::move(inner));
    std::vector<TVEXSelectListItem> all;
    top.SetResultFields(all, false);
    top.Execute(true, nullptr, nullptr);
    EXPECT_EQ(top.ResultDataset()->Handle()->DisableTempFiles(), disable);
    EXPECT_EQ(Rows(top).size(), 5u);
  }
}

TEST_F(Operators, DistinctKeepsCaseAndDropsNonAdjacentAndNullRepeats) {
  MakeTable("G", {{1, "Ann", nullptr},
                  {2, "ann", nullptr},
                  {3, "Ann", nullptr},
                  {4, nullptr, nullptr},
                  {5, "Bob", nullptr},
                  {6, nullptr, nullptr},
                  {7, "ann", nullptr}});
  TVEXAOTableExpr top(Table("G"));
  std::vector<TVEXSelectListItem> list{Col("NAME")};
  top.SetResultFields(list, true);
  top.Execute(true, nullptr, nullptr);
  EXPECT_EQ(Rows(top), (Lines{"Ann", "ann", "-", "Bob"}));
}

TEST_F(Operators, DistinctEvaluatesAComputedColumnOnceAndStoresWhatItCompared) {
  MakeTable("G", {{1, "a", 1}, {2, "b", 1}, {3, "c", 2}});
  // A column whose value changes with every evaluation, as ROWNUM or RAND:
  // the stored value must be the one DISTINCT compared.
  class Counter final : public TVEXExprNode {
   public:
    explicit Counter(int32_t& N) : TVEXExprNode(false, false), FN(N) {}
    TVEXVariant& GetDataValue() override {
      Value.SetNull();
      Value.SetAsInteger(++FN);
      return Value;
    }
    TVEXAdvancedFieldType GetDataType() override { return aftInteger; }

   private:
    int32_t& FN;
  };
  int32_t evaluations = 0;
  auto counter = std::make_unique<Counter>(evaluations);
  TVEXAOTableExpr top(Table("G"));
  std::vector<TVEXSelectListItem> list{
      Col("K"), Computed(std::make_unique<TVEXExpression>(std::move(counter)), "N")};
  top.SetResultFields(list, true);
  top.Execute(true, nullptr, nullptr);
  EXPECT_EQ(Rows(top), (Lines{"1|1", "1|2", "2|3"}));
  EXPECT_EQ(evaluations, 3);
}

TEST_F(Operators, TopZeroTopNAndTopWithFirstRowSkipOnce) {
  MakeTable("G", kGuests);
  struct Case {
    int64_t First, Top;
    Lines Expected;
  };
  for (const Case& c : {Case{-1, 0, {}}, Case{1, 2, {"1", "2"}}, Case{0, 2, {"1", "2"}},
                        Case{2, 2, {"2", "3"}}, Case{4, 5, {"4", "5"}}, Case{9, 1, {}}}) {
    // A top-row operator over a table expression over the table: both are
    // asked for the range, and rows are skipped once.
    auto expr = std::make_unique<TVEXAOTableExpr>(Table("G"));
    std::vector<TVEXSelectListItem> list{Col("ID")};
    expr->SetResultFields(list, false);
    TVEXAOSQLTopRowCount top(std::move(expr));
    top.SetTopRowCount(c.First, c.Top);
    top.Execute(true, nullptr, nullptr);
    EXPECT_EQ(Rows(top), c.Expected) << "TOP " << c.Top << ", " << c.First;
  }
}

TEST_F(Operators, TopStopsTheFillAtTheLimit) {
  MakeTable("G", kGuests);
  // A filter that counts the rows the fill reads.
  class CountingTrue final : public TVEXExprNode {
   public:
    explicit CountingTrue(int32_t& N) : TVEXExprNode(false, false), FN(N) {}
    TVEXVariant& GetDataValue() override {
      ++FN;
      Value.SetNull();
      Value.SetAsBoolean(true);
      return Value;
    }
    TVEXAdvancedFieldType GetDataType() override { return aftBoolean; }

   private:
    int32_t& FN;
  };
  int32_t read = 0;
  TVEXAOTableExpr top(Table("G"));
  std::vector<TVEXSelectListItem> all;
  top.SetResultFields(all, false);
  top.SetFilter(std::make_unique<TVEXExpression>(std::make_unique<CountingTrue>(read)));
  top.SetTopRowCount(-1, 2);
  top.Execute(true, nullptr, nullptr);
  EXPECT_EQ(Rows(top).size(), 2u);
  EXPECT_EQ(read, 2);
}

TEST_F(Operators, TopWithOrderingStopsTheFillEarly) {
  MakeTable("G", kGuests);
  // TOP 2 over an ordered input: the input is read in result order.
  auto inner = std::make_unique<TVEXAOTableExpr>(Table("G"));
  std::vector<TVEXSelectListItem> list{Col("ID")};
  inner->SetResultFields(list, false);
  inner->SetIndex("ID", "ID", "");
  TVEXAOSQLTopRowCount top(std::move(inner));
  top.SetTopRowCount(-1, 2);
  top.Execute(true, nullptr, nullptr);
  EXPECT_EQ(Rows(top), (Lines{"5", "4"}));
}

TEST_F(Operators, TableExpressionSortsItsOwnResultAndLeavesBaseIndexesAlone) {
  MakeTable("G", kGuests, true);
  auto t = Table("G");
  TVEXAOTable* base = t.get();
  std::vector<TVEXSelectListItem> list{Col("ID")};
  base->SetResultFields(list, false);
  base->SetIndex("K", "K", "");
  TVEXAOTableExpr top(std::move(t));
  std::vector<TVEXSelectListItem> topList{Col("ID")};
  top.SetResultFields(topList, false);
  top.Execute(true, nullptr, nullptr);
  EXPECT_EQ(Rows(top), (Lines{"2", "5", "1", "3", "4"}));
  std::unique_ptr<TVEXTable> check = Component("G");
  check->Open();
  EXPECT_EQ(check->Handle()->GetIndexDefs().Count(), 1) << "only BYID";

  // A table operator that has an index for its order keeps the ordering.
  auto kept = Table("G");
  kept->SetIndex("ID", "", "");
  std::unique_ptr<rtl::TStringList> a, b, c;
  EXPECT_FALSE(kept->TransferIndexToParentIfNeeded(a, b, c));
  EXPECT_EQ(a, nullptr);
}

// ---- grouping

TEST_F(Operators, GroupingFormsOneGroupPerKeyWithNullsTogether) {
  MakeTable("G", {{1, "a", 20},
                  {2, "b", nullptr},
                  {3, "c", 10},
                  {4, "d", 20},
                  {5, "e", nullptr},
                  {6, "f", 20}});
  std::vector<TVEXSelectListItem> list{
      Col("K"), Computed(std::make_unique<TVEXExpression>(std::make_unique<CountRows>()), "N")};
  TVEXFields groupBy;
  groupBy.Append(Col("K"));
  auto group = std::make_unique<TVEXAOGroupBy>(Table("G"), &groupBy, list);
  group->SetResultFields(list, false);
  EXPECT_EQ(group->GroupByFields(), "K");
  group->Execute(true, nullptr, nullptr);
  EXPECT_EQ(Rows(*group), (Lines{"-|2", "10|1", "20|3"}));
}

TEST_F(Operators, GroupingByASelectAliasAndItsErrors) {
  MakeTable("G", {{1, "a", 1}, {2, "a", 2}, {3, "b", 1}});
  {
    std::vector<TVEXSelectListItem> list{Col("NAME", "WHO")};
    TVEXFields groupBy;
    groupBy.Append(Col("WHO"));
    TVEXAOGroupBy group(Table("G"), &groupBy, list);
    group.SetResultFields(list, false);
    group.Execute(true, nullptr, nullptr);
    EXPECT_EQ(Rows(group), (Lines{"a", "b"}));
  }
  {
    std::vector<TVEXSelectListItem> list{Col("NAME")};
    TVEXFields groupBy;
    groupBy.Append(Col("NOPE"));
    EXPECT_THAT([&] { TVEXAOGroupBy group(Table("G"), &groupBy, list); }, RaisesNativeError(20245));
  }
  {
    std::vector<TVEXSelectListItem> list{Col("NAME"), Col("K")};
    TVEXFields groupBy;
    groupBy.Append(Col("NAME"));
    TVEXAOGroupBy group(Table("G"), &groupBy, list);
    EXPECT_THAT([&] { group.SetResultFields(list, false); }, RaisesNativeError(10342));
  }
  {
    std::vector<TVEXSelectListItem> list{Col("NAME"), Col("NOPE")};
    TVEXFields groupBy;
    groupBy.Append(Col("NAME"));
    TVEXAOGroupBy group(Table("G"), &groupBy, list);
    EXPECT_THAT([&] { group.SetResultFields(list, false); }, RaisesNativeError(10305));
  }
  {
    // A computed column over an ungrouped column.
    std::vector<TVEXSelectListItem> list{Col("NAME"), Computed(Expr("K + 1"), "K1")};
    TVEXFields groupBy;
    groupBy.Append(Col("NAME"));
    TVEXAOGroupBy group(Table("G"), &groupBy, list);
    EXPECT_THAT([&] { group.SetResultFields(list, false); }, RaisesNativeError(20269));
  }
}

TEST_F(Operators, OneGroupOverAllRowsAlsoWhenTheInputIsEmpty) {
  MakeTable("G", kGuests);
  MakeTable("E", {});
  for (const char* name : {"G", "E"}) {
    int32_t read = 0;
    std::vector<TVEXSelectListItem> list{
        Computed(std::make_unique<TVEXExpression>(std::make_unique<CountRows>(&read)), "N")};
    TVEXAOGroupBy group(Table(name), nullptr, list);
    group.SetResultFields(list, false);
    group.Execute(true, nullptr, nullptr);
    EXPECT_EQ(Rows(group), (Lines{name[0] == 'G' ? "5" : "0"}));
    EXPECT_EQ(read, 0) << "counted from the record count";
  }
}

// ---- locks

TEST_F(Operators, LocksGoLeftBeforeRightAndStopAtTheFirstRefusal) {
  // Two inputs under one operator, as a join has them.
  class Pair final : public TVEXAO {
   public:
    Pair(std::unique_ptr<TVEXAO> L, std::unique_ptr<TVEXAO> R) {
      InitAO(std::move(L), std::move(R), "", "");
    }
  };
  class Leaf final : public TVEXAO {
   public:
    Leaf(std::vector<std::string>& Log, std::string Name, bool Answer)
        : FLog(Log), FName(std::move(Name)), FAnswer(Answer) {}
    bool LockTables() override {
      FLog.push_back(FName);
      return FAnswer;
    }

   private:
    std::vector<std::string>& FLog;
    std::string FName;
    bool FAnswer;
  };
  std::vector<std::string> log;
  // An operator without a result table cannot be ordered.
  Leaf bare(log, "B", true);
  bare.SetIndex("ID", "", "");
  EXPECT_THAT([&] { bare.Execute(true, nullptr, nullptr); }, RaisesNativeError(10308));
  Pair refused(std::make_unique<Leaf>(log, "L", false), std::make_unique<Leaf>(log, "R", true));
  EXPECT_FALSE(refused.LockTables());
  EXPECT_EQ(log, (std::vector<std::string>{"L"}));
  log.clear();
  Pair granted(std::make_unique<Leaf>(log, "L", true), std::make_unique<Leaf>(log, "R", true));
  EXPECT_TRUE(granted.LockTables());
  EXPECT_EQ(log, (std::vector<std::string>{"L", "R"}));

  // A table operator locks its open table, and refuses when it is closed.
  MakeTable("G", kGuests);
  auto t = Table("G");
  EXPECT_TRUE(t->LockTables());
  EXPECT_TRUE(t->UnlockTables());
  ASSERT_TRUE(t->CloseTables());
  EXPECT_FALSE(t->LockTables());
  ASSERT_TRUE(t->OpenTables());
  EXPECT_TRUE(t->LockTables());
}

// ---- index descriptions

TEST(IndexSpec, ListsAndTextRoundTrip) {
  rtl::TStringList names, ascDesc, caseIns;
  IndexSpecToLists(" a ;b;C", "B", "c;a", names, ascDesc, caseIns);
  ASSERT_EQ(names.Count(), 3);
  EXPECT_EQ(names[0], "A");
  EXPECT_EQ(ascDesc[1], "DESC");
  EXPECT_EQ(ascDesc[2], "ASC");
  EXPECT_EQ(caseIns[0], "NO_CASE");
  EXPECT_EQ(caseIns[1], "CASE");
  std::string fields, desc, ci;
  IndexListsToSpec(fields, desc, ci, names, ascDesc, caseIns);
  EXPECT_EQ(fields, "A;B;C");
  EXPECT_EQ(desc, "B");
  EXPECT_EQ(ci, "A;C");
}

}  // namespace
