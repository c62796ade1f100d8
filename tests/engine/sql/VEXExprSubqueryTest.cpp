// The subquery node over small in-memory tables: how often it runs, the
// one-row and one-column rules, EXISTS, IN and the quantified comparisons
// with their nulls, the columns of a row subquery, what it leaves behind in
// the lexer and the outer cursor, and subqueries inside SELECT statements.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ExprCursorFixture.h"
#include "ExprNodeTestSupport.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "rtl/CodePage.h"
#include "rtl/Variant.h"
#include "sql/VEXLexer.h"
#include "sql/expression/VEXExpression.h"
#include "sql/nodes/VEXExprSubquery.h"
#include "support/NativeError.h"

namespace {

using namespace vex;
using namespace vex::exprtest;
using testsupport::RaisesNativeError;

using Lines = std::vector<std::string>;

// A cell of a table row: an integer, a text, or null.
struct Cell {
  Cell(int32_t v) : Int(v), Kind(0) {}      // NOLINT: rows read as literals
  Cell(const char* v) : Txt(v), Kind(1) {}  // NOLINT
  Cell(std::nullptr_t) : Kind(2) {}         // NOLINT
  int32_t Int = 0;
  std::string Txt;
  int Kind;
};

class Subqueries : public ::testing::Test {
 protected:
  void SetUp() override {
    // G(ID, NAME, K): K = 20 three times, 10 twice, null once.
    MakeTable("G", {{1, "Ann", 20},
                    {2, "bob", 10},
                    {3, "Cid", 20},
                    {4, "Bob", nullptr},
                    {5, "ann", 20},
                    {6, nullptr, 10}});
    // V(ID, NAME, K): values with a null, for IN and the quantifiers.
    MakeTable("V", {{1, "a", 1}, {2, "b", 2}, {3, nullptr, nullptr}});
    MakeTable("E", {});
    Query.SetDatabaseName("MEMORY");
  }
  void TearDown() override {
    Nodes.clear();
    Query.Close();
    for (const std::string& name : Made) {
      std::unique_ptr<TVEXTable> t = Component(name);
      if (t->Exists()) t->DeleteTable();
    }
  }

  static std::unique_ptr<TVEXTable> Component(const std::string& Name) {
    auto t = std::make_unique<TVEXTable>(nullptr);
    t->SetDatabaseName("MEMORY");
    t->SetTableName(Name);
    return t;
  }
  // Name(ID Integer, NAME Varchar(10), K Integer) with the rows given.
  void MakeTable(const std::string& Name, const std::vector<std::vector<Cell>>& Rows) {
    std::unique_ptr<TVEXTable> t = Component(Name);
    t->AdvFieldDefs().Add("ID", aftInteger, 0, false);
    t->AdvFieldDefs().Add("NAME", aftString, 10, false);
    t->AdvFieldDefs().Add("K", aftInteger, 0, false);
    t->CreateTable();
    Made.push_back(Name);
    t->Open();
    for (const auto& row : Rows) {
      t->Append();
      for (int32_t f = 0; f < 3; ++f) {
        if (row[f].Kind == 0) t->Fields()[f]->SetAsVariant(rtl::Variant(row[f].Int));
        if (row[f].Kind == 1) t->Fields()[f]->SetAsVariant(rtl::Variant(row[f].Txt));
      }
      t->Post();
    }
  }

  // A subquery node over Text (a query expression), as the grammar builds it
  // with the lexer on the SELECT; the lexer lives as long as the test.
  TVEXExprNodeSubquery& Node(const std::string& Text, bool OneField = true, bool OneRow = false) {
    Lexers.push_back(std::make_unique<TVEXLexer>(rtl::Utf8ToUtf16(Text), nullptr, false));
    Lexers.back()->GetNextCommand();
    Nodes.push_back(
        std::make_unique<TVEXExprNodeSubquery>(OneField, OneRow, &Query, Lexers.back().get()));
    return *Nodes.back();
  }
  // The rows of a SELECT run by the query component ("-" for null).
  Lines Select(const std::string& Text) {
    Query.Close();
    Query.SQL().SetText(Text);
    Query.Open();
    Lines rows;
    for (Query.First(); !Query.Eof(); Query.Next()) {
      std::string row;
      for (int32_t i = 0; i < Query.FieldCount(); ++i) {
        if (i > 0) row += "|";
        db::TField* field = Query.Fields()[i];
        row += field->IsNull() ? "-" : field->AsString();
      }
      rows.push_back(row);
    }
    return rows;
  }

  TVEXQuery Query{nullptr};
  std::vector<std::string> Made;
  std::vector<std::unique_ptr<TVEXLexer>> Lexers;
  std::vector<std::unique_ptr<TVEXExprNodeSubquery>> Nodes;
};

TEST_F(Subqueries, AnUncorrelatedSubqueryRunsOnceACorrelatedOnePerOuterRow) {
  TVEXExprNodeSubquery& once = Node("SELECT MAX(ID) FROM G", true, true);
  EXPECT_FALSE(once.Correlated());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Show(once.GetDataValue()), "INTEGER 6");
  EXPECT_EQ(once.ExecutionCount(), 1);

  // An outer query with the column O.K, whose value each outer row changes.
  FakeAO outer({{"O", "K", aftInteger, 20}});
  TVEXExprNodeSubquery& each = Node("SELECT COUNT(*) FROM G WHERE G.K = O.K", true, true);
  EXPECT_TRUE(each.Correlated());
  each.AssignAO(&outer, nullptr, nullptr);
  EXPECT_EQ(Show(each.GetDataValue()), "INTEGER 3");
  outer.Columns[0].Value = 10;
  EXPECT_EQ(Show(each.GetDataValue()), "INTEGER 2");
  outer.Columns[0].Value = 7;
  EXPECT_EQ(Show(each.GetDataValue()), "INTEGER 0");
  EXPECT_EQ(each.ExecutionCount(), 3);
}

TEST_F(Subqueries, OneRowAndOneColumnAreRequiredWhereTheGrammarSaysSo) {
  struct Case {
    const char* text;
    bool oneField, oneRow;
    std::string expected;
  };
  const Case cases[] = {
      {"SELECT ID, K FROM G", true, false, "!20246"},
      {"SELECT * FROM G", true, true, "!20246"},
      {"SELECT ID FROM G WHERE ID > 100", true, true, "!20249"},
      {"SELECT ID FROM G", true, true, "!20247"},
      {"SELECT ID FROM G WHERE ID > 100", true, false, "UNKNOWN NULL"},
      {"SELECT NAME FROM G WHERE ID = 2", true, true, "VARCHAR bob"},
      {"SELECT ID FROM G ORDER BY ID DESC", true, false, "INTEGER 6"},
  };
  for (const Case& c : cases) {
    TVEXExprNodeSubquery& node = Node(c.text, c.oneField, c.oneRow);
    EXPECT_EQ(Outcome([&] { return Show(node.GetDataValue()); }), c.expected) << c.text;
  }
  EXPECT_THAT([&] { Node("SELECT ID, K FROM G", true, false).Exists(); }, RaisesNativeError(20246));
}

TEST_F(Subqueries, ExistsInAnyAndAllOverTheirOperands) {
  // Each condition over a subquery of V's column K (1, 2, null) or of E.
  struct Quantified {
    const char* text;
    TVEXDataOperator op;
    TVEXQuantifier q;
    int32_t x;
    bool empty;
    const char* expected;
  };
  const Quantified quantified[] = {
      {"3 > ALL (1, 2, null)", doGT, qALL, 3, false, "FALSE"},
      {"3 > ANY (1, 2, null)", doGT, qANY, 3, false, "TRUE"},
      {"0 > ANY (1, 2, null): a null row matches nothing", doGT, qANY, 0, false, "FALSE"},
      {"2 >= ANY (1, 2, null)", doGE, qANY, 2, false, "TRUE"},
      {"2 = ANY (1, 2, null)", doEQ, qANY, 2, false, "TRUE"},
      {"2 <> ALL (1, 2, null)", doNE, qALL, 2, false, "FALSE"},
      {"3 > ALL (empty)", doGT, qALL, 3, true, "TRUE"},
      {"3 > ANY (empty)", doGT, qANY, 3, true, "FALSE"},
  };
  for (const Quantified& c : quantified) {
    TVEXExprNodeSubquery& node = Node(c.empty ? "SELECT K FROM E" : "SELECT K FROM V", true, false);
    TVEXVariant x;
    x.SetAsInteger(c.x);
    EXPECT_EQ(node.QuantifiedCompare(c.op, c.q, x) ? "TRUE" : "FALSE", std::string(c.expected))
        << c.text;
  }
  // Without the null row ALL decides on the values.
  TVEXVariant x;
  x.SetAsInteger(3);
  EXPECT_TRUE(Node("SELECT K FROM V WHERE K IS NOT NULL").QuantifiedCompare(doGT, qALL, x));
  x.SetAsInteger(2);
  EXPECT_FALSE(Node("SELECT K FROM V WHERE K IS NOT NULL").QuantifiedCompare(doGT, qALL, x));
  // A null tested value satisfies no row: ALL is False unless there is none.
  TVEXVariant nul;
  EXPECT_FALSE(Node("SELECT K FROM V WHERE K IS NOT NULL").QuantifiedCompare(doLT, qANY, nul));
  EXPECT_FALSE(Node("SELECT K FROM V WHERE K IS NOT NULL").QuantifiedCompare(doLT, qALL, nul));
  EXPECT_TRUE(Node("SELECT K FROM E").QuantifiedCompare(doLT, qALL, nul));

  EXPECT_TRUE(Node("SELECT * FROM G", false).Exists());
  EXPECT_FALSE(Node("SELECT * FROM G WHERE 1 = 0", false).Exists());
}

TEST_F(Subqueries, InRemembersItsLastValueAndTreatsNullsAsAListDoes) {
  // The condition node over [tested, subquery], evaluated for a sequence of
  // tested values as outer rows would give them.
  auto testedNode = std::make_unique<TVEXExprNodeConst>(false, false);
  TVEXVariant& tested = testedNode->Value;
  TVEXExprNodePtr in =
      Bool(doIN, std::move(testedNode), std::unique_ptr<TVEXExprNode>(&Node("SELECT K FROM V")));
  Nodes.back().release();  // the IN node owns it now
  TVEXExprNodePtr notIn =
      Bool(doNOTIN, I(0), std::unique_ptr<TVEXExprNode>(&Node("SELECT K FROM V")));
  Nodes.back().release();
  TVEXVariant& notInTested = notIn->Children[0]->Value;
  struct Step {
    int kind;  // 0 integer, 1 null
    int32_t value;
    const char* in;
    const char* notIn;
  };
  for (const Step& s :
       {Step{0, 2, "LOGICAL TRUE", "LOGICAL FALSE"}, Step{0, 2, "LOGICAL TRUE", "LOGICAL FALSE"},
        Step{0, 5, "LOGICAL FALSE", "LOGICAL TRUE"}, Step{1, 0, "LOGICAL NULL", "LOGICAL NULL"},
        Step{0, 1, "LOGICAL TRUE", "LOGICAL FALSE"}, Step{0, 5, "LOGICAL FALSE", "LOGICAL TRUE"}}) {
    tested.Clear(bftSignedInt32);
    notInTested.Clear(bftSignedInt32);
    if (s.kind == 0) {
      tested.SetAsInteger(s.value);
      notInTested.SetAsInteger(s.value);
    }
    EXPECT_EQ(Eval(*in), s.in) << s.value;
    EXPECT_EQ(Eval(*notIn), s.notIn) << s.value;
  }
  auto* subquery = dynamic_cast<TVEXExprNodeSubquery*>(in->Children[1].get());
  EXPECT_EQ(subquery->ExecutionCount(), 1);
}

TEST_F(Subqueries, ARowSubqueryGivesTheColumnsOfItsFirstRowByNumber) {
  TVEXExprNodeSubquery& row = Node("SELECT ID, NAME, K FROM G WHERE ID = 2", false, false);
  row.ResetSubqueryFieldValues();
  ASSERT_NE(row.GetSubqueryFieldValue(2), nullptr);
  EXPECT_EQ(Show(*row.GetSubqueryFieldValue(0)), "INTEGER 2");
  EXPECT_EQ(Show(*row.GetSubqueryFieldValue(1)), "VARCHAR bob");
  EXPECT_EQ(Show(*row.GetSubqueryFieldValue(2)), "INTEGER 10");
  EXPECT_EQ(row.GetSubqueryFieldValue(3), nullptr);
  EXPECT_EQ(row.GetSubqueryFieldValue(-1), nullptr);

  TVEXExprNodeSubquery& none = Node("SELECT ID, K FROM G WHERE ID = 99", false, false);
  none.ResetSubqueryFieldValues();
  EXPECT_EQ(Show(*none.GetSubqueryFieldValue(1)), "UNKNOWN NULL");

  // The row subquery of an UPDATE, parsed by its expression entry point: the
  // lexer stands after the parentheses.
  TVEXLexer lexer(u"((SELECT K, NAME FROM G WHERE ID = 3)) WHERE", nullptr, false);
  lexer.GetNextCommand();
  TVEXExpression e;
  e.ParseForRowSubqueryExpression(&Query, lexer);
  TToken t;
  ASSERT_TRUE(lexer.GetCurrentToken(t));
  EXPECT_EQ(t.Text, u"WHERE");
  e.ResetSubqueryFieldValues();
  ASSERT_NE(e.GetSubqueryFieldValue(1), nullptr);
  EXPECT_EQ(Show(*e.GetSubqueryFieldValue(1)), "VARCHAR Cid");

  EXPECT_EQ(Node("SELECT NAME, ID FROM G", false).GetDataType(), aftString);
  EXPECT_EQ(Node("SELECT NAME, ID FROM G", false).GetDataSize(), 10);
}

TEST_F(Subqueries, TheLexerAndTheOuterRecordComeBackAfterEveryRun) {
  // The subquery reads the outer cursor's column T.CODE from the record it is
  // bound to; the cursor itself stands on another record.
  CursorFixture f;
  std::vector<uint8_t> other = vex::testing::NullRecord(f.Cursor.FieldDefs());
  f.SetInt(f.Record, 5, 20);
  f.SetInt(other, 5, 10);
  TVEXExprNodeSubquery& node =
      Node("SELECT COUNT(*) FROM G WHERE G.K = T.CODE; SELECT 1", true, true);
  TVEXLexer& lexer = *Lexers.back();
  node.AssignCursor(&f.Cursor, nullptr, nullptr);
  node.AssignCursorBuffer(other.data(), false);
  // The statement around the subquery reads on elsewhere meanwhile.
  lexer.GetNextCommand();
  lexer.SetCurrentTokenNo(1);
  auto unmoved = [&] {
    EXPECT_EQ(lexer.CurrentCommandNo, 1);
    EXPECT_EQ(lexer.GetCurrentTokenNo(), 1);
    EXPECT_EQ(f.Cursor.CurrentRecordBuffer(), f.Record.data());
  };
  EXPECT_EQ(Show(node.GetDataValue()), "INTEGER 2");
  unmoved();
  node.AssignCursorBuffer(f.Record.data(), false);
  EXPECT_EQ(Show(node.GetDataValue()), "INTEGER 3");
  unmoved();
  EXPECT_EQ(node.GetDataType(), aftInteger);
  unmoved();
  EXPECT_FALSE(node.CanBeAssigned(nullptr, nullptr, nullptr, false));
  unmoved();

  // A run that fails leaves both as they were.
  TVEXExprNodeSubquery& failing = Node("SELECT ID FROM G WHERE ID < T.CODE", true, true);
  TVEXLexer& failingLexer = *Lexers.back();
  failing.AssignCursor(&f.Cursor, nullptr, nullptr);
  failing.AssignCursorBuffer(other.data(), false);
  failingLexer.SetCurrentTokenNo(3);
  EXPECT_THAT([&] { failing.GetDataValue(); }, RaisesNativeError(20247));
  EXPECT_EQ(failingLexer.GetCurrentTokenNo(), 3);
  EXPECT_EQ(f.Cursor.CurrentRecordBuffer(), f.Record.data());
}

// ---- subqueries in statements

TEST_F(Subqueries, ScalarSubqueriesInWhereAndInTheSelectList) {
  EXPECT_EQ(Select("SELECT ID FROM G WHERE ID = (SELECT MAX(ID) FROM G)"), (Lines{"6"}));
  EXPECT_EQ(Select("SELECT ID, (SELECT COUNT(*) FROM V) FROM G WHERE ID < 3"),
            (Lines{"1|3", "2|3"}));
  // Correlated: the number of rows of G with the outer row's K.
  EXPECT_EQ(Select("SELECT ID, (SELECT COUNT(*) FROM G AS I WHERE I.K = O.K) FROM G AS O "
                   "WHERE ID <= 3"),
            (Lines{"1|3", "2|2", "3|3"}));
  EXPECT_EQ(Select("SELECT ID FROM G AS O WHERE ID = (SELECT MIN(ID) FROM G WHERE G.K = O.K)"),
            (Lines{"1", "2"}));
  EXPECT_THAT([&] { Select("SELECT ID FROM G WHERE ID = (SELECT ID FROM G)"); },
              RaisesNativeError(20247));
}

TEST_F(Subqueries, PredicatesOverSubqueriesInStatements) {
  struct Case {
    const char* where;
    Lines expected;
  };
  const Case cases[] = {
      {"EXISTS (SELECT * FROM V WHERE V.ID = G.ID)", {"1", "2", "3"}},
      {"NOT EXISTS (SELECT * FROM V WHERE V.ID = G.ID)", {"4", "5", "6"}},
      {"EXISTS ((SELECT * FROM E))", {}},
      {"ID IN (SELECT K FROM V)", {"1", "2"}},
      {"ID NOT IN (SELECT K FROM V)", {"3", "4", "5", "6"}},
      {"(ID IN (SELECT K FROM V)) AND ID > 1", {"2"}},
      {"K IN (SELECT ID FROM V)", {}},
      {"K NOT IN (SELECT ID FROM V)", {"1", "2", "3", "5", "6"}},
      {"ID > ALL (SELECT ID FROM V)", {"4", "5", "6"}},
      {"ID < SOME (SELECT ID FROM V)", {"1", "2"}},
      {"ID > ANY (SELECT ID FROM E)", {}},
      {"ID > ALL (SELECT ID FROM E)", {"1", "2", "3", "4", "5", "6"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Select(std::string("SELECT ID FROM G WHERE ") + c.where), c.expected) << c.where;
}

}  // namespace
