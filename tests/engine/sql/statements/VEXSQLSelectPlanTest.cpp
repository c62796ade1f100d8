// Plan building and joins: which operators a SELECT becomes, where its
// conditions, DISTINCT and TOP go, and the rows of every kind of join.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/sql/statements/SelectFixture.h"
#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "sql/VEXLexer.h"
#include "sql/algebra/VEXAOGroupBy.h"
#include "sql/algebra/VEXAOJoin.h"
#include "sql/algebra/VEXAOTable.h"
#include "sql/algebra/VEXAOTableExpr.h"
#include "sql/statements/VEXSQLUnion.h"
#include "support/NativeError.h"

namespace {

using namespace vex;
using testsupport::CodeOf;
using vextest::Rows;

class Plan : public vextest::SelectFixture {
 protected:
  void SetUp() override {
    SelectFixture::SetUp();
    Query = &NewQuery("-");
    Query->SetDBFlag(1, true);
  }
  // The statement of Text, parsed, with its tree.
  struct Built {
    std::unique_ptr<TVEXLexer> Lexer;
    std::unique_ptr<TVEXSQLUnion> Statement;
    std::unique_ptr<TVEXAO> Tree;
  };
  Built Build(const std::string& Text, bool RequestLive = false) {
    Built b;
    b.Lexer = std::make_unique<TVEXLexer>(rtl::Utf8ToUtf16(Text), nullptr, false);
    b.Lexer->GetNextCommand();
    b.Statement = std::make_unique<TVEXSQLUnion>(*b.Lexer, Query);
    b.Statement->Parse();
    b.Tree = b.Statement->BuildAOTree(Query, RequestLive, nullptr, nullptr, false);
    return b;
  }
  template <class T>
  static T* As(TVEXAO* AO) {
    return dynamic_cast<T*>(AO);
  }

  TVEXQuery* Query = nullptr;
};

TEST_F(Plan, ACommaListJoinsOnAWhereEqualityAndSendsSingleTableConditionsDown) {
  Built b = Build("SELECT * FROM Room a, Kind b WHERE a.K = b.K AND a.ID > 1 AND b.K < 3");
  auto* join = As<TVEXAOJoin>(b.Tree.get());
  ASSERT_NE(join, nullptr);
  EXPECT_EQ(join->JoinType(), ajtInner);
  EXPECT_EQ(join->Fields1().size(), 1u);
  ASSERT_NE(As<TVEXAOTable>(join->LeftAO()), nullptr);
  EXPECT_NE(join->LeftAO()->FilterExpr(), nullptr);
  EXPECT_NE(join->RightAO()->FilterExpr(), nullptr);
  EXPECT_EQ(join->FilterExpr(), nullptr);
  EXPECT_TRUE(b.Statement->AllConditionsApplied());

  Built cross = Build("SELECT * FROM Room a, Kind b WHERE a.ID = 1");
  ASSERT_NE(As<TVEXAOJoin>(cross.Tree.get()), nullptr);
  EXPECT_EQ(As<TVEXAOJoin>(cross.Tree.get())->JoinType(), ajtCross);
}

TEST_F(Plan, AnOuterJoinKeepsItsOnResidualWhileAnInnerJoinPushesItDown) {
  Built outer = Build("SELECT * FROM Room r LEFT JOIN Kind k ON r.K = k.K AND k.TITLE = 'single'");
  auto* left = As<TVEXAOJoin>(outer.Tree.get());
  ASSERT_NE(left, nullptr);
  EXPECT_EQ(left->JoinType(), ajtLeftOuter);
  EXPECT_EQ(left->Fields1().size(), 1u);
  EXPECT_EQ(left->RightAO()->FilterExpr(), nullptr);

  Built inner = Build("SELECT * FROM Room r INNER JOIN Kind k ON r.K = k.K AND k.TITLE = 'single'");
  auto* join = As<TVEXAOJoin>(inner.Tree.get());
  ASSERT_NE(join, nullptr);
  EXPECT_EQ(join->JoinType(), ajtInner);
  EXPECT_NE(join->RightAO()->FilterExpr(), nullptr);

  EXPECT_EQ(Run("SELECT r.ID, k.TITLE FROM Room r LEFT JOIN Kind k ON r.K = k.K AND "
                "k.TITLE = 'single' ORDER BY r.ID"),
            (Rows{"1|-", "2|single", "3|single", "4|-"}));
  EXPECT_EQ(Run("SELECT r.ID, k.TITLE FROM Room r JOIN Kind k ON r.K = k.K AND "
                "k.TITLE = 'single' ORDER BY r.ID"),
            (Rows{"2|single", "3|single"}));
}

TEST_F(Plan, WhereDistinctAndTopGo) {
  // Not live and without TOP: the table stays the table; a copy on top
  // removes the duplicates.
  Built plain = Build("SELECT DISTINCT K FROM Room");
  auto* copy = As<TVEXAOTableExpr>(plain.Tree.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->DistinctApplied());
  ASSERT_NE(As<TVEXAOTable>(copy->LeftAO()), nullptr);
  EXPECT_FALSE(copy->LeftAO()->DistinctApplied());
  // With TOP the DISTINCT goes into the fields below the top-row operator.
  Built top = Build("SELECT DISTINCT TOP 2 K FROM Room");
  auto* cut = As<TVEXAOSQLTopRowCount>(top.Tree.get());
  ASSERT_NE(cut, nullptr);
  EXPECT_TRUE(cut->LeftAO()->DistinctApplied());
  // Live: the table itself with its distinct view.
  Built live = Build("SELECT DISTINCT K FROM Room", true);
  ASSERT_NE(As<TVEXAOTable>(live.Tree.get()), nullptr);
  EXPECT_TRUE(live.Tree->DistinctApplied());
}

TEST_F(Plan, GroupingByAComputedAliasComputesItBelowTheGrouping) {
  Built b = Build("SELECT ID + 1 AS B FROM Room GROUP BY B");
  TVEXAO* group = b.Tree.get();
  while (group != nullptr && !group->IsAOGroupBy()) group = group->LeftAO();
  ASSERT_NE(group, nullptr);
  EXPECT_NE(As<TVEXAOTableExpr>(group->LeftAO()), nullptr);
  EXPECT_EQ(Run("SELECT ID + 1 AS B FROM Room GROUP BY B"), (Rows{"2", "3", "4", "5"}));
  EXPECT_EQ(Run("SELECT K FROM Room GROUP BY K"), (Rows{"-", "1", "2"}));
}

TEST_F(Plan, AnAggregateInHavingTurnsGroupingOn) {
  Built b = Build("SELECT 1 AS ONE FROM Room HAVING COUNT(*) > 3");
  TVEXAO* group = b.Tree.get();
  while (group != nullptr && !group->IsAOGroupBy()) group = group->LeftAO();
  ASSERT_NE(group, nullptr);
  EXPECT_NE(group->FilterExpr(), nullptr);
  EXPECT_TRUE(b.Statement->AllConditionsApplied());
}

TEST_F(Plan, EveryJoinWordGivesItsRows) {
  const std::pair<const char*, Rows> cases[] = {
      {"SELECT r.ID, k.TITLE FROM Room r JOIN Kind k ON r.K = k.K ORDER BY r.ID",
       {"1|double", "2|single", "3|single"}},
      {"SELECT r.ID, k.TITLE FROM Room r INNER JOIN Kind k ON k.K = r.K ORDER BY r.ID",
       {"1|double", "2|single", "3|single"}},
      {"SELECT r.ID, k.TITLE FROM Room r LEFT OUTER JOIN Kind k ON r.K = k.K ORDER BY r.ID",
       {"1|double", "2|single", "3|single", "4|-"}},
      {"SELECT r.ID, k.TITLE FROM Room r RIGHT JOIN Kind k ON r.K = k.K ORDER BY k.TITLE, r.ID",
       {"1|double", "2|single", "3|single", "-|suite"}},
      {"SELECT r.ID, k.TITLE FROM Room r FULL OUTER JOIN Kind k ON r.K = k.K ORDER BY r.ID, "
       "k.TITLE",
       {"-|suite", "1|double", "2|single", "3|single", "4|-"}},
      {"SELECT r.ID, k.TITLE FROM Room r NATURAL JOIN Kind k ORDER BY r.ID",
       {"1|double", "2|single", "3|single"}},
      {"SELECT r.ID, k.TITLE FROM Room r JOIN Kind k USING (K) ORDER BY r.ID",
       {"1|double", "2|single", "3|single"}},
      {"SELECT r.ID, k.K FROM Room r CROSS JOIN Kind k WHERE r.ID = 1 ORDER BY k.K",
       {"1|1", "1|2", "1|3"}},
      {"SELECT r.ID, k.K FROM Room r, Kind k WHERE r.ID = 2 ORDER BY k.K", {"2|1", "2|2", "2|3"}},
      {"SELECT Room.ID FROM Room, Kind WHERE Room.K = Kind.K AND Kind.TITLE = 'double'", {"1"}},
      // A parenthesised join with a condition on its inside.
      {"SELECT r.ID FROM (Room r JOIN Kind k ON r.K = k.K) WHERE k.TITLE = 'double'", {"1"}},
      {"SELECT s.ID, k.TITLE FROM (SELECT ID, K FROM Room WHERE ID > 2) s LEFT JOIN Kind k ON "
       "s.K = k.K ORDER BY s.ID",
       {"3|single", "4|-"}},
  };
  for (const auto& [textOf, expected] : cases) {
    const char* text = textOf;
    SCOPED_TRACE(text);
    std::vector<std::string> rows;
    EXPECT_NO_THROW(rows = Run(text));
    EXPECT_EQ(rows, expected);
  }
}

TEST_F(Plan, QueryExpressionsCombineTheirBlocks) {
  const std::pair<const char*, Rows> cases[] = {
      {"SELECT K FROM Room UNION SELECT K FROM Kind ORDER BY K", {"-", "1", "2", "3"}},
      {"SELECT K FROM Room UNION ALL SELECT K FROM Kind WHERE K > 2", {"1", "2", "1", "-", "3"}},
      {"SELECT K FROM Kind EXCEPT SELECT K FROM Room", {"3"}},
      {"SELECT K FROM Kind MINUS SELECT K FROM Room WHERE K = 1 ORDER BY K DESC", {"3", "2"}},
      {"SELECT K FROM Kind INTERSECT SELECT K FROM Room ORDER BY 1", {"1", "2"}},
      // INTERSECT first: Kind's 1 and 2, then the union with Room's 4.
      {"SELECT ID FROM Room WHERE ID = 4 UNION SELECT K FROM Kind INTERSECT SELECT K FROM Room "
       "ORDER BY 1",
       {"1", "2", "4"}},
      // Positions count the set operation's columns (its second one here).
      {"SELECT ID, NAME FROM Room WHERE ID < 3 UNION SELECT K, TITLE FROM Kind ORDER BY 2",
       {"1|a", "2|b", "2|double", "1|single", "3|suite"}},
      {"SELECT TITLE, K FROM Kind UNION CORRESPONDING BY (K) SELECT ID, K FROM Room ORDER BY K",
       {"-", "1", "2", "3"}},
      {"(SELECT TOP 1 ID FROM Room ORDER BY ID DESC) UNION SELECT K FROM Kind WHERE K = 1",
       {"4", "1"}},
  };
  for (const auto& [textOf, expected] : cases) {
    const char* text = textOf;
    SCOPED_TRACE(text);
    std::vector<std::string> rows;
    EXPECT_NO_THROW(rows = Run(text));
    EXPECT_EQ(rows, expected);
  }
  EXPECT_EQ(
      CodeOf([&] { NewQuery("SELECT K FROM Room UNION SELECT K FROM Kind ORDER BY 2").Open(); }),
      20243);
}

// A set operation as a derived table is read like a table: all its columns
// for "*", under the names of the columns its blocks show.
TEST_F(Plan, ASetOperationReadsLikeATableInAJoinAndUnderTop) {
  const char* setOp =
      "(SELECT NAME, ID FROM Room WHERE ID < 3 UNION ALL SELECT TITLE, K FROM Kind WHERE K = 3) u";
  const std::tuple<std::string, const char*, Rows> cases[] = {
      {std::string("SELECT * FROM ") + setOp + ", Kind k WHERE u.ID = k.K ORDER BY u.ID",
       "NAME|ID|K|TITLE",
       {"a|1|1|single", "b|2|2|double", "suite|3|3|suite"}},
      {std::string("SELECT TOP 2 * FROM ") + setOp, "NAME|ID", {"a|1", "b|2"}},
      {std::string("SELECT u.* FROM ") + setOp + " WHERE u.ID > 1", "NAME|ID", {"b|2", "suite|3"}},
  };
  for (const auto& [text, names, expected] : cases) {
    SCOPED_TRACE(text);
    TVEXQuery& q = NewQuery(text);
    ASSERT_NO_THROW(q.Open());
    EXPECT_EQ(Names(q), names);
    EXPECT_EQ(Read(q), expected);
  }
}

TEST_F(Plan, JoinErrors) {
  const std::pair<const char*, int32_t> cases[] = {
      {"SELECT * FROM Room CROSS x", 30168},
      {"SELECT * FROM Room NATURAL x", 30169},
      {"SELECT * FROM Room INNER x", 30170},
      {"SELECT * FROM Room LEFT x", 30171},
      {"SELECT * FROM Room RIGHT x", 30172},
      {"SELECT * FROM Room FULL x", 30173},
      {"SELECT * FROM Room LEFT OUTER x", 30174},
      {"SELECT * FROM Room LEFT ON", 30175},
      {"SELECT * FROM Room JOIN ,", 30176},
      {"SELECT * FROM Room JOIN Kind USING K", 30167},
      {"SELECT * FROM Room JOIN", 30176},
      // An ON part that neither side can test.
      {"SELECT * FROM Room r JOIN Kind k ON r.K = k.K AND z.Q = 1", 20270},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::string message;
    EXPECT_EQ(CodeOf([&] { NewQuery(c.first).Open(); }, &message), c.second) << message;
  }
}

}  // namespace
