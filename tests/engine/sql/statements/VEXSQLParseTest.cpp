// The SELECT grammar as parsed, without running anything: select lists, FROM
// items and joins, query expressions with their set operators, ORDER BY and
// INTO placement, and the parse errors.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "sql/VEXLexer.h"
#include "sql/statements/VEXSQLSelect.h"
#include "sql/statements/VEXSQLUnion.h"
#include "sql/statements/VEXTableReference.h"
#include "support/NativeError.h"

namespace {

using namespace vex;
using testsupport::CodeOf;

class Parse : public ::testing::Test {
 protected:
  Parse() {
    TVEXSQLParam& n = Params.AddCreated();
    n.Name = u"n";
    n.SetAsInteger(3);
  }
  TVEXSQLUnion& Of(const std::string& Text) {
    Lexer = std::make_unique<TVEXLexer>(rtl::Utf8ToUtf16(Text), &Params, false);
    Lexer->GetNextCommand();
    Statement = std::make_unique<TVEXSQLUnion>(*Lexer, nullptr);
    Statement->Parse();
    return *Statement;
  }
  TVEXSQLSelect& Block(const std::string& Text) {
    TVEXSQLUnion& u = Of(Text);
    EXPECT_EQ(u.RootNode()->NodeType, qetSelect);
    return *u.RootNode()->SelectCommand;
  }
  // The token the statement left current, or "<end>".
  std::string Left() const {
    TToken t;
    return Lexer->GetCurrentToken(t) ? rtl::Utf16ToUtf8(t.Text) : "<end>";
  }
  // A query expression as text: leaves by their first table.
  static std::string Show(const TVEXQueryExprNode& Node) {
    if (Node.NodeType == qetSelect) return Node.SelectCommand->FromTables.front()->TableName;
    std::string s = Node.NodeType == qetUnion    ? "UNION"
                    : Node.NodeType == qetExcept ? "EXCEPT"
                                                 : "INTERSECT";
    if (Node.All) s += " ALL";
    if (Node.Corresponding) s += " CORRESPONDING";
    for (const std::string& f : Node.CorrespondingFields) s += " " + f;
    return s + "(" + Show(*Node.Left) + ", " + Show(*Node.Right) + ")";
  }

  TVEXSQLParams Params;
  std::unique_ptr<TVEXLexer> Lexer;
  std::unique_ptr<TVEXSQLUnion> Statement;
};

TEST_F(Parse, SelectListsRepeatedColumnsStarsAndAliases) {
  TVEXSQLSelect& dup = Block("SELECT a, a FROM t");
  ASSERT_EQ(dup.SelectList.size(), 2u);
  EXPECT_FALSE(dup.SelectList[0].IsExpression);
  EXPECT_TRUE(dup.SelectList[1].IsExpression);
  EXPECT_TRUE(dup.SelectList[1].IsDuplicatedField);
  EXPECT_EQ(dup.SelectList[1].Pseudonym, "a_1");
  EXPECT_EQ(Block("SELECT a, a_1, A FROM t").SelectList[2].Pseudonym, "A_2");
  EXPECT_EQ(Block("SELECT a, t.a FROM t").SelectList[1].Pseudonym, "");

  TVEXSQLSelect& star = Block("SELECT t.* FROM t");
  EXPECT_FALSE(star.AllFields);
  EXPECT_TRUE(star.SelectList[0].AllFields);
  EXPECT_EQ(star.SelectList[0].TableName, "t");
  EXPECT_TRUE(Block("SELECT * FROM t").AllFields);

  TVEXSQLSelect& aliases = Block("SELECT a AS x, b y, c 'z', d [w], e + 1 AS v FROM t");
  std::vector<std::string> names;
  for (const TVEXSelectListItem& i : aliases.SelectList) names.push_back(i.Pseudonym);
  EXPECT_EQ(names, (std::vector<std::string>{"x", "y", "z", "w", "v"}));
  EXPECT_TRUE(aliases.SelectList[4].IsExpression);

  TVEXSQLSelect& top = Block("SELECT DISTINCT TOP 10, 5 * FROM t");
  EXPECT_TRUE(top.Distinct);
  EXPECT_EQ(top.TopRowCount, 10);
  EXPECT_EQ(top.FirstRowNo, 5);
  EXPECT_EQ(Block("SELECT TOP :n * FROM t").TopRowCount, 3);
  EXPECT_EQ(Block("SELECT ALL a FROM t").TopRowCount, -1);
}

TEST_F(Parse, FromItemsAndJoinTrees) {
  TVEXSQLSelect& list = Block("SELECT * FROM db.a x, MEMORY b AS y PASSWORD 'p', c");
  ASSERT_EQ(list.FromTables.size(), 3u);
  EXPECT_EQ(list.FromTables[0]->DatabaseName, "db");
  EXPECT_EQ(list.FromTables[0]->Pseudonym, "x");
  EXPECT_TRUE(list.FromTables[1]->InMemory);
  EXPECT_EQ(list.FromTables[1]->Password, "p");

  // A quoted text after a table is no alias; it is left over.
  Block("SELECT * FROM t 'x'");
  EXPECT_EQ(Left(), "x");

  TVEXSQLSelect& derived = Block("SELECT * FROM (SELECT a FROM t) AS s");
  EXPECT_EQ(derived.FromTables[0]->TableType, attSubQuery);
  EXPECT_EQ(derived.FromTables[0]->Pseudonym, "s");

  // Joins build a left-deep tree in the order written, also without ON.
  TVEXSQLSelect& joins =
      Block("SELECT * FROM a NATURAL LEFT OUTER JOIN b JOIN c USING (k, l) CROSS JOIN d");
  const TVEXTableReference& top = *joins.FromTables[0];
  EXPECT_EQ(top.TableType, attJoinedTable);
  EXPECT_EQ(top.RightTable->TableName, "d");
  EXPECT_EQ(top.JoinType, ajtCross);
  const TVEXTableReference& middle = *top.LeftTable;
  EXPECT_EQ(middle.JoinType, ajtInner);
  EXPECT_EQ(middle.UsingFields, (std::vector<std::string>{"k", "l"}));
  const TVEXTableReference& first = *middle.LeftTable;
  EXPECT_EQ(first.JoinType, ajtLeftOuter);
  EXPECT_TRUE(first.NaturalJoin);
  EXPECT_EQ(first.LeftTable->TableName, "a");
  EXPECT_EQ(first.RightTable->TableName, "b");

  // A parenthesised join takes the alias written after it.
  TVEXSQLSelect& grouped = Block("SELECT * FROM (a JOIN b ON a.k = b.k) j");
  EXPECT_EQ(grouped.FromTables[0]->TableType, attJoinedTable);
  EXPECT_EQ(grouped.FromTables[0]->Pseudonym, "j");
  EXPECT_NE(grouped.FromTables[0]->SearchCondition, nullptr);
}

TEST_F(Parse, QueryExpressionsBindIntersectFirstAndAssociateToTheLeft) {
  const std::pair<const char*, const char*> cases[] = {
      {"SELECT * FROM a UNION SELECT * FROM b INTERSECT SELECT * FROM c",
       "UNION(a, INTERSECT(b, c))"},
      {"SELECT * FROM a EXCEPT SELECT * FROM b MINUS SELECT * FROM c", "EXCEPT(EXCEPT(a, b), c)"},
      {"(SELECT * FROM a UNION SELECT * FROM b) INTERSECT SELECT * FROM c",
       "INTERSECT(UNION(a, b), c)"},
      {"SELECT * FROM a UNION ALL SELECT * FROM b", "UNION ALL(a, b)"},
      {"SELECT * FROM a UNION CORRESPONDING SELECT * FROM b", "UNION CORRESPONDING(a, b)"},
      {"SELECT * FROM a UNION CORRESPONDING BY (x, y) SELECT * FROM b",
       "UNION CORRESPONDING x y(a, b)"},
      {"SELECT * FROM a INTERSECT ALL CORRESPONDING BY (x) SELECT * FROM b",
       "INTERSECT ALL CORRESPONDING x(a, b)"},
  };
  for (const auto& c : cases) EXPECT_EQ(Show(*Of(c.first).RootNode()), c.second) << c.first;
}

TEST_F(Parse, ATrailingOrderByOrdersTheWholeAndAParenthesisedBlockKeepsItsOwn) {
  TVEXSQLUnion& whole = Of("SELECT a FROM t UNION SELECT a FROM u ORDER BY a DESC");
  ASSERT_EQ(whole.OrderBySpecs.size(), 1u);
  EXPECT_TRUE(whole.OrderBySpecs[0].Descending);
  EXPECT_TRUE(whole.RootNode()->Right->SelectCommand->OrderBySpecs.empty());

  TVEXSQLUnion& nested =
      Of("SELECT a FROM t UNION SELECT a FROM u INTERSECT SELECT a FROM v ORDER BY a");
  EXPECT_EQ(nested.OrderBySpecs.size(), 1u);

  TVEXSQLUnion& own = Of("(SELECT a FROM t ORDER BY a) UNION SELECT a FROM u");
  EXPECT_TRUE(own.OrderBySpecs.empty());
  EXPECT_EQ(own.RootNode()->Left->SelectCommand->OrderBySpecs.size(), 1u);

  TVEXSQLUnion& right = Of("SELECT a FROM t UNION (SELECT TOP 1 a FROM u ORDER BY a)");
  EXPECT_TRUE(right.OrderBySpecs.empty());
  EXPECT_EQ(right.RootNode()->Right->SelectCommand->OrderBySpecs.size(), 1u);

  TVEXSQLUnion& keys = Of("SELECT a FROM t ORDER BY :n DESC, t.a ASC, 2");
  const TVEXSQLSelect& block = *keys.RootNode()->SelectCommand;
  ASSERT_EQ(block.OrderBySpecs.size(), 3u);
  EXPECT_EQ(block.OrderBySpecs[0].ColumnName, "3");
  EXPECT_TRUE(block.OrderBySpecs[0].Descending);
  EXPECT_EQ(block.OrderBySpecs[1].TableName, "t");
  EXPECT_FALSE(block.OrderBySpecs[1].Descending);
  EXPECT_EQ(block.OrderBySpecs[2].ColumnName, "2");
}

TEST_F(Parse, IntoBelongsToALoneSelect) {
  TVEXSQLUnion& lone = Of("SELECT a INTO MEMORY IMMEDIATE db.x FROM t");
  EXPECT_EQ(lone.IntoTable, "x");
  EXPECT_EQ(lone.IntoDatabase, "db");
  EXPECT_TRUE(lone.IntoMemory);
  EXPECT_TRUE(lone.IntoImmediate);
  EXPECT_EQ(CodeOf([&] { Of("SELECT a INTO x FROM t UNION SELECT a FROM u"); }), 20272);
  EXPECT_EQ(CodeOf([&] { Of("SELECT a FROM t EXCEPT SELECT a INTO x FROM u"); }), 20272);
}

TEST_F(Parse, ErrorsOfTheGrammar) {
  const std::pair<const char*, int32_t> cases[] = {
      {"(1)", 30194},
      {"SELECT a FROM t UNION 1", 30194},
      {"SELECT a FROM t UNION CORRESPONDING BY x SELECT a FROM u", 30193},
      {"SELECT TOP x a FROM t", 30158},
      {"SELECT TOP 1, x a FROM t", 30159},
      {"SELECT TOP 99999999999 a FROM t", 30158},
      {"SELECT , FROM t", 30160},
      {"SELECT a AS , FROM t", 30162},
      {"SELECT a INTO , FROM t", 30165},
      {"SELECT a INTO db., FROM t", 30166},
      {"SELECT a WHERE b = 1", 30184},
      {"SELECT a FROM ,", 30180},
      {"SELECT a FROM t, ,", 30181},
      {"SELECT a FROM", 30161},
      {"SELECT a FROM t PASSWORD x", 30178},
      {"SELECT a FROM (,)", 30179},
      {"SELECT a FROM t GROUP a", 30185},
      {"SELECT a FROM t GROUP BY a + 1", 10409},
      {"SELECT a FROM t GROUP BY a, 1", 10410},
  };
  for (const auto& c : cases) {
    std::string message;
    EXPECT_EQ(CodeOf([&] { Of(c.first); }, &message), c.second) << c.first << ": " << message;
  }
  std::string message;
  CodeOf([&] { Of("SELECT a WHERE b = 1"); }, &message);
  EXPECT_NE(message.find("Token 'FROM' expected, but 'WHERE' found at line 1, column 10"),
            std::string::npos)
      << message;
  // A block on its own wants its SELECT.
  Lexer = std::make_unique<TVEXLexer>(u"FROM t", nullptr, false);
  Lexer->GetNextCommand();
  TVEXSQLSelect block(*Lexer, nullptr);
  EXPECT_EQ(CodeOf([&] { block.Parse(); }), 30156);
}

}  // namespace
