// Grouping and aggregates run through the query component: one row per
// group (null keys forming one), aggregates over all rows without GROUP BY,
// HAVING, and grouping under ORDER BY, DISTINCT, TOP, set operations and
// derived tables.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/sql/statements/SelectFixture.h"
#include "support/NativeError.h"

namespace {

using namespace vex;
using testsupport::CodeOf;
using vextest::Rows;

class Grouping : public vextest::SelectFixture {};

TEST_F(Grouping, GroupsGiveOneRowEachWithTheirAggregates) {
  struct Case {
    const char* Text;
    const char* Names;
    Rows Expected;
  };
  const Case cases[] = {
      // Room: (3 c 1) (1 a 2) (2 b 1) (4 B null).
      {"SELECT K, COUNT(*) AS N, SUM(ID) AS S, MIN(NAME) AS LO, MAX(ID) AS HI, AVG(ID) AS A "
       "FROM Room GROUP BY K",
       "K|N|S|LO|HI|A",
       {"-|1|4|B|4|4", "1|2|5|b|3|2.5", "2|1|1|a|1|1"}},
      // One group over all rows, also when no row is left.
      {"SELECT COUNT(*) AS N, COUNT(K) AS NK, SUM(ID) + 1 AS S FROM Room", "N|NK|S", {"4|3|11"}},
      {"SELECT COUNT(*) AS N, SUM(ID) AS S, MAX(NAME) AS M FROM Room WHERE ID > 10",
       "N|S|M",
       {"0|-|-"}},
      {"SELECT K, COUNT(*) AS N FROM Room WHERE ID > 10 GROUP BY K", "K|N", {}},
      {"SELECT COUNT(DISTINCT K) AS N FROM Room", "N", {"2"}},
      {"SELECT K, NAME, COUNT(*) AS N FROM Room GROUP BY K, NAME",
       "K|NAME|N",
       {"-|B|1", "1|b|1", "1|c|1", "2|a|1"}},
      // Grouping by a computed alias; expressions over aggregates.
      {"SELECT K + 1 AS K1, COUNT(*) AS N FROM Room GROUP BY K1", "K1|N", {"-|1", "2|2", "3|1"}},
      {"SELECT K, COUNT(*) * 2 AS D, MAX(ID) - MIN(ID) AS W FROM Room GROUP BY K",
       "K|D|W",
       {"-|2|0", "1|4|1", "2|2|0"}},
      {"SELECT k.TITLE, COUNT(*) AS N FROM Room r JOIN Kind k ON r.K = k.K GROUP BY k.TITLE",
       "TITLE|N",
       {"double|1", "single|2"}},
      // HAVING by aggregate, by alias, by group column after WHERE, and mixed.
      {"SELECT K, COUNT(*) AS N FROM Room GROUP BY K HAVING COUNT(*) > 1", "K|N", {"1|2"}},
      {"SELECT K, COUNT(*) AS N FROM Room GROUP BY K HAVING N > 1", "K|N", {"1|2"}},
      {"SELECT K FROM Room WHERE ID > 1 GROUP BY K HAVING K > 0", "K", {"1"}},
      {"SELECT K FROM Room GROUP BY K HAVING COUNT(*) > 1 AND K = 1 OR MAX(ID) = 1",
       "K",
       {"1", "2"}},
      // Ordering, TOP and DISTINCT over the groups.
      {"SELECT K, SUM(ID) AS S FROM Room GROUP BY K ORDER BY S DESC", "K|S", {"1|5", "-|4", "2|1"}},
      {"SELECT K, SUM(ID) AS S FROM Room GROUP BY K ORDER BY 2", "K|S", {"2|1", "-|4", "1|5"}},
      {"SELECT TOP 1 K, COUNT(*) AS N FROM Room GROUP BY K ORDER BY K DESC", "K|N", {"2|1"}},
      {"SELECT DISTINCT COUNT(*) AS N FROM Room GROUP BY K", "N", {"1", "2"}},
      {"SELECT DISTINCT COUNT(*) AS N FROM Room GROUP BY K ORDER BY N DESC", "N", {"2", "1"}},
      // Groups inside a set operation and a derived table.
      {"SELECT K, COUNT(*) AS N FROM Room GROUP BY K UNION SELECT K, 0 FROM Kind",
       "K|N",
       {"-|1", "1|0", "1|2", "2|0", "2|1", "3|0"}},
      {"SELECT g.K FROM (SELECT K, COUNT(*) AS N FROM Room GROUP BY K) g WHERE g.N = 1",
       "K",
       {"-", "2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    TVEXQuery& q = NewQuery(c.Text);
    ASSERT_NO_THROW(q.Open());
    EXPECT_EQ(Names(q), c.Names);
    EXPECT_EQ(Read(q), c.Expected);
  }
}

TEST_F(Grouping, HavingTakesParametersAndAGroupedResultIsNeverLive) {
  TVEXQuery& q =
      NewQuery("SELECT K, COUNT(*) AS N FROM Room GROUP BY K HAVING COUNT(*) >= :least", true);
  q.ParamByName("least")->SetAsInteger(2);
  q.Open();
  EXPECT_EQ(Read(q), Rows{"1|2"});
  EXPECT_TRUE(q.ReadOnly());
  q.Close();
  q.ParamByName("least")->SetAsInteger(1);
  q.Open();
  EXPECT_EQ(Read(q), (Rows{"-|1", "1|2", "2|1"}));
}

TEST_F(Grouping, ColumnsOutsideTheGroupsAreRefused) {
  const std::pair<const char*, int32_t> cases[] = {
      {"SELECT NAME, COUNT(*) FROM Room", 10342},
      {"SELECT K, NAME FROM Room GROUP BY K", 10342},
      {"SELECT K, ID + 1 AS X FROM Room GROUP BY K", 20269},
      {"SELECT K FROM Room GROUP BY Z", 20245},
      {"SELECT COUNT(*) AS N FROM Room GROUP BY N", 20245},
      // A group shows no single ID to order by.
      {"SELECT K FROM Room GROUP BY K ORDER BY ID", 30195},
      {"SELECT ID FROM Room HAVING ID > 1", 20244},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::string message;
    EXPECT_EQ(CodeOf([&] { NewQuery(c.first).Open(); }, &message), c.second) << message;
  }
}

}  // namespace
