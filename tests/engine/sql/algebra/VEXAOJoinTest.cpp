// Join operators over table operators on small in-memory tables whose join
// column K has repeated and null values: each join kind, the residual join
// condition, join columns from lists and NATURAL, the cross join, the order
// of the inputs and the errors of join columns.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/algebra/OperatorFixture.h"
#include "sql/algebra/VEXAOJoin.h"
#include "sql/algebra/VEXAOTableExpr.h"
#include "sql/nodes/VEXExprFieldNode.h"
#include "support/NativeError.h"

namespace {

using namespace vex;
using testsupport::RaisesNativeError;
using vextest::Lines;

class Joins : public vextest::OperatorTest {
 protected:
  void SetUp() override {
    MakeTable("A",
              {{1, "a1", 10}, {2, "a2", 10}, {3, "a3", 20}, {4, "a4", nullptr}, {5, "a5", 30}});
    MakeTable("B",
              {{6, "b1", 10}, {7, "b2", 10}, {8, "b3", nullptr}, {9, "b4", 40}, {10, "b5", 20}});
  }
  static TVEXFields List(std::initializer_list<TVEXSelectListItem> Items) {
    TVEXFields list;
    for (const TVEXSelectListItem& item : Items) list.Append(item);
    return list;
  }
  // A JOIN B ON A.K = B.K (tables and qualifiers given).
  static std::unique_ptr<TVEXAOJoin> OnK(TVEXJoinType Type, const std::string& Left = "A",
                                         const std::string& Right = "B",
                                         std::unique_ptr<TVEXExpression> Condition = nullptr) {
    TVEXFields l = List({Col("K", "", Left)}), r = List({Col("K", "", Right)});
    return std::make_unique<TVEXAOJoin>(Table(Left), Table(Right), Type, false, &l, &r,
                                        std::move(Condition));
  }
  // The second columns (NAME) of both inputs per joined row, sorted.
  static Lines Names(TVEXAO& Join, const std::string& Left = "A", const std::string& Right = "B",
                     const std::string& Column2 = "NAME") {
    std::vector<TVEXSelectListItem> list{Col("NAME", "", Left), Col(Column2, "", Right)};
    Join.SetResultFields(list, false);
    Join.Execute(true, nullptr, nullptr);
    Lines rows = Rows(Join);
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  static Lines Sorted(Lines L) {
    std::sort(L.begin(), L.end());
    return L;
  }
};

const Lines kInner = {"a1|b1", "a1|b2", "a2|b1", "a2|b2", "a3|b5"};

Lines Plus(Lines A, const Lines& B) {
  A.insert(A.end(), B.begin(), B.end());
  std::sort(A.begin(), A.end());
  return A;
}

TEST_F(Joins, EachKindPairsRepeatedKeysAndKeepsItsDrivingRowsWhileNullKeysNeverPair) {
  struct Case {
    TVEXJoinType Type;
    Lines Expected;
  };
  for (const Case& c : {Case{ajtInner, kInner}, Case{ajtLeftOuter, Plus(kInner, {"a4|-", "a5|-"})},
                        Case{ajtRightOuter, Plus(kInner, {"-|b3", "-|b4"})},
                        Case{ajtFullOuter, Plus(kInner, {"a4|-", "a5|-", "-|b3", "-|b4"})}}) {
    auto join = OnK(c.Type);
    EXPECT_EQ(Names(*join), Sorted(c.Expected)) << "join type " << int(c.Type);
  }
  // Either input empty.
  MakeTable("E", {});
  EXPECT_EQ(Names(*OnK(ajtInner, "A", "E"), "A", "E"), Lines{});
  EXPECT_EQ(Names(*OnK(ajtFullOuter, "E", "B"), "E", "B"),
            Sorted({"-|b1", "-|b2", "-|b3", "-|b4", "-|b5"}));
}

TEST_F(Joins, ExtractedKeysMergeAndTheResidualConditionIsTestedPerPair) {
  struct Case {
    TVEXJoinType Type;
    Lines Expected;
  };
  // Each row of key 10 finds its partner in the other input's second row
  // of that key for the first row and its first row for the second.
  const Lines matched = {"a1|b2", "a2|b1"};
  for (const Case& c :
       {Case{ajtInner, matched}, Case{ajtLeftOuter, Plus(matched, {"a3|-", "a4|-", "a5|-"})},
        Case{ajtRightOuter, Plus(matched, {"-|b3", "-|b4", "-|b5"})},
        Case{ajtFullOuter, Plus(matched, {"a3|-", "a4|-", "a5|-", "-|b3", "-|b4", "-|b5"})}}) {
    auto a = Table("A");
    auto b = Table("B");
    TVEXExpression* on = Expr("A.K = B.K AND A.ID + B.ID = 8", true);
    TVEXFields l, r;
    const int32_t pairs =
        on->ExtractJoinConditions(a.get(), b.get(), [&](TVEXExprNode& First, TVEXExprNode& Second) {
          TVEXSelectListItem first, second;
          dynamic_cast<TVEXExprNodeField&>(First).FillItem(first);
          dynamic_cast<TVEXExprNodeField&>(Second).FillItem(second);
          l.Append(first);
          r.Append(second);
        });
    ASSERT_EQ(pairs, 1);
    EXPECT_FALSE(on->IsEmpty()) << "the residual condition stays";
    TVEXAOJoin join(std::move(a), std::move(b), c.Type, false, &l, &r, Take(on));
    EXPECT_EQ(Names(join), Sorted(c.Expected)) << "join type " << int(c.Type);
  }
}

TEST_F(Joins, CrossJoinsCountTheProductWithoutReadingAndPairEveryRow) {
  MakeTable("C", {{1, "c1", 1}, {2, "c2", 2}});
  TVEXAOJoin cross(Table("A"), Table("C"), ajtCross, false, nullptr, nullptr, nullptr);
  EXPECT_EQ(cross.RecordCount(), 10);
  EXPECT_EQ(Names(cross, "A", "C").size(), 10u);
  // An inner join whose column lists came out empty is a cross join.
  TVEXFields none;
  TVEXAOJoin empty(Table("A"), Table("C"), ajtInner, false, &none, &none, nullptr);
  EXPECT_EQ(empty.JoinType(), ajtCross);
  EXPECT_EQ(empty.RecordCount(), 10);
}

TEST_F(Joins, ColumnListsPairInEitherOrderAndNaturalJoinsPairByName) {
  // A pair given right column first is turned round.
  TVEXFields l = List({Col("K", "", "B")}), r = List({Col("K", "", "A")});
  TVEXAOJoin turned(Table("A"), Table("B"), ajtLeftOuter, false, &l, &r, nullptr);
  EXPECT_LT(turned.Fields1()[0], 3) << "a column of A";
  EXPECT_EQ(Names(turned), Plus(kInner, {"a4|-", "a5|-"}));

  MakeTable("D", {{1, "d1", 10}, {2, "d2", 20}}, false, {"DID", "DNAME", "K"});
  TVEXAOJoin natural(Table("A"), Table("D"), ajtInner, true, nullptr, nullptr, nullptr);
  EXPECT_EQ(natural.Fields1().size(), 1u);
  EXPECT_EQ(Names(natural, "A", "D", "DNAME"), Sorted({"a1|d1", "a2|d1", "a3|d2"}));

  // Without a common column every pair joins.
  MakeTable("X", {{1, "x1", 1}, {2, "x2", 2}}, false, {"XID", "XNAME", "XK"});
  TVEXAOJoin nothingShared(Table("A"), Table("X"), ajtInner, true, nullptr, nullptr, nullptr);
  EXPECT_EQ(Names(nothingShared, "A", "X", "XNAME").size(), 10u);
}

TEST_F(Joins, InnerAndFullJoinsPutTheSmallerInputLeft) {
  MakeTable("C", {{1, "c1", 10}, {2, "c2", 20}});
  for (const TVEXJoinType type : {ajtInner, ajtFullOuter, ajtLeftOuter}) {
    auto join = OnK(type, "A", "C");
    const Lines rows = Names(*join, "A", "C");
    EXPECT_EQ(join->Fields1()[0] >= 3, type != ajtLeftOuter) << "join type " << int(type);
    const Lines pairs = {"a1|c1", "a2|c1", "a3|c2"};
    EXPECT_EQ(rows, type == ajtInner ? pairs : Plus(pairs, {"a4|-", "a5|-"}));
  }
}

TEST_F(Joins, ThreeInputsSharingAColumnNameGetUniqueNames) {
  MakeTable("C", {{1, "c1", 10}});
  auto inner = std::make_unique<TVEXAOJoin>(Table("A"), Table("B"), ajtCross, false, nullptr,
                                            nullptr, nullptr);
  TVEXAOJoin outer(std::move(inner), Table("C"), ajtCross, false, nullptr, nullptr, nullptr);
  Lines ids;
  for (int32_t i = 0; i < outer.FieldCount(); ++i)
    if (outer.FieldLink(i).FieldName.rfind("ID", 0) == 0)
      ids.push_back(outer.FieldLink(i).FieldName);
  EXPECT_EQ(ids, (Lines{"ID", "ID_1", "ID_12"}));
}

TEST_F(Joins, JoinColumnErrors) {
  struct Case {
    Lines Left, Right;  // "T.COLUMN" or "COLUMN"
    int32_t Code;
  };
  const auto item = [](const std::string& Text) {
    const size_t dot = Text.find('.');
    return dot == std::string::npos ? Col(Text)
                                    : Col(Text.substr(dot + 1), "", Text.substr(0, dot));
  };
  for (const Case& c :
       {Case{{"A.K"}, {}, 10330}, Case{{"K"}, {"B.K"}, 10331}, Case{{"A.NOPE"}, {"B.K"}, 10331},
        Case{{"A.K"}, {"B.NOPE"}, 10332}, Case{{"A.K"}, {"A.ID"}, 10334}}) {
    TVEXFields l, r;
    for (const std::string& text : c.Left) l.Append(item(text));
    for (const std::string& text : c.Right) r.Append(item(text));
    EXPECT_THAT([&] { TVEXAOJoin join(Table("A"), Table("B"), ajtInner, false, &l, &r, nullptr); },
                RaisesNativeError(c.Code))
        << c.Code;
  }
  // Keys that cannot be compared (money and truth) fail when the join runs.
  std::unique_ptr<TVEXTable> mixed = Component("M");
  mixed->AdvFieldDefs().Add("NAME", aftString, 10, false);
  mixed->AdvFieldDefs().Add("PRICE", aftCurrency, 0, false);
  mixed->AdvFieldDefs().Add("PAID", aftBoolean, 0, false);
  mixed->CreateTable();
  Made.push_back("M");
  mixed->Open();
  mixed->Append();
  mixed->Fields()[0]->SetAsVariant(rtl::Variant("m"));
  mixed->Fields()[1]->SetAsVariant(rtl::Variant(5));
  mixed->Fields()[2]->SetAsVariant(rtl::Variant(true));
  mixed->Post();
  mixed->Close();
  TVEXFields l = List({Col("PRICE", "", "X")}), r = List({Col("PAID", "", "Y")});
  TVEXAOJoin join(Table("M", "X"), Table("M", "Y"), ajtInner, false, &l, &r, nullptr);
  EXPECT_THAT([&] { Names(join, "X", "Y"); }, RaisesNativeError(10328));
}

TEST_F(Joins, DistinctGoesIntoMaterialisedInputsOnlyWithoutAJoinCondition) {
  for (const bool withCondition : {false, true}) {
    auto left = std::make_unique<TVEXAOTableExpr>(Table("A"));
    auto right = std::make_unique<TVEXAOTableExpr>(Table("B"));
    std::vector<TVEXSelectListItem> all;
    left->SetResultFields(all, false);
    right->SetResultFields(all, false);
    TVEXAO* leftInput = left.get();
    TVEXFields l = List({Col("K", "", "A")}), r = List({Col("K", "", "B")});
    std::unique_ptr<TVEXExpression> condition;
    if (withCondition) condition = Take(Expr("A.ID < B.ID", true));
    TVEXAOJoin join(std::move(left), std::move(right), ajtInner, false, &l, &r,
                    std::move(condition));
    std::vector<TVEXSelectListItem> list{Col("K", "", "A")};
    join.SetResultFields(list, true);
    // DISTINCT on the input's visible columns would drop rows that only the
    // condition's hidden columns tell apart.
    EXPECT_EQ(leftInput->DistinctApplied(), !withCondition);
  }
}

}  // namespace
