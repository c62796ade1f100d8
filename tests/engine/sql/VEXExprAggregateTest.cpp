// The aggregate node: its accumulation over hand-fed values (nulls, case,
// 64-bit sums, DISTINCT, errors), and COUNT, SUM, AVG, MIN and MAX parsed from
// text and run by the grouping operator over small in-memory tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ExprNodeTestSupport.h"
#include "components/VEXDatabase.h"
#include "components/VEXTable.h"
#include "rtl/CodePage.h"
#include "rtl/Variant.h"
#include "sql/VEXLexer.h"
#include "sql/VEXRelationalAlgebra.h"
#include "sql/algebra/VEXAOGroupBy.h"
#include "sql/algebra/VEXAOTable.h"
#include "sql/expression/VEXExpression.h"
#include "sql/nodes/VEXExprAggregate.h"
#include "support/NativeError.h"

namespace {

using namespace vex;
using namespace vex::exprtest;
using testsupport::RaisesNativeError;

// A value fed to the aggregate for one row.
using Feed = std::function<void(TVEXVariant&)>;
Feed Int(int32_t v) {
  return [v](TVEXVariant& x) { x.SetAsInteger(v); };
}
Feed Big(int64_t v) {
  return [v](TVEXVariant& x) { x.SetAsInt64(v); };
}
Feed Dbl(double v) {
  return [v](TVEXVariant& x) { x.SetAsDouble(v); };
}
Feed Money(double v) {
  return [v](TVEXVariant& x) { x.SetAsCurrency(v); };
}
Feed Text(std::string v) {
  return [v](TVEXVariant& x) { x.SetAsAnsiString(v); };
}
Feed Nul(TVEXBaseFieldType t = bftSignedInt32) {
  return [t](TVEXVariant& x) { x.Clear(t); };
}

// An aggregate over a constant whose value the test sets before each row.
struct Fed {
  Fed(TVEXDataOperator Op, bool Distinct = false) {
    if (Op == doCOUNTALL) {
      Node = std::make_unique<TVEXExprNodeAggregated>(Op);
      auto arg = std::make_unique<TVEXExprNodeConst>(false, false);
      Arg = &arg->Value;
      Keep = std::move(arg);
    } else {
      auto arg = std::make_unique<TVEXExprNodeConst>(false, false);
      Arg = &arg->Value;
      Node = std::make_unique<TVEXExprNodeAggregated>(Op, Distinct, std::move(arg));
    }
  }
  // One group over Rows: Init, one Accumulate per row, the value shown.
  std::string Group(const std::vector<Feed>& Rows) {
    return Outcome([&] {
      Node->Init();
      for (const Feed& row : Rows) {
        Arg->Clear(bftUnknown);
        row(*Arg);
        Node->Accumulate();
      }
      return Show(Node->GetDataValue());
    });
  }
  std::unique_ptr<TVEXExprNodeAggregated> Node;
  TVEXExprNodePtr Keep;
  TVEXVariant* Arg = nullptr;
};

TEST(Aggregate, AccumulatesEachOperatorOverValuesWithNulls) {
  struct Case {
    const char* text;
    TVEXDataOperator op;
    bool distinct;
    std::vector<Feed> rows;
    const char* expected;
  };
  const std::vector<Feed> oneNullTwo{Int(1), Nul(), Int(2)};
  const std::vector<Feed> allNull{Nul(), Nul()};
  const std::vector<Feed> letters{Text("b"), Text("A"), Text("c")};
  const int32_t kMax = 2147483647;
  const Case cases[] = {
      {"COUNT(x) over 1, NULL, 2", doCOUNT, false, oneNullTwo, "INTEGER 2"},
      {"COUNT(*) over 1, NULL, 2", doCOUNTALL, false, oneNullTwo, "INTEGER 3"},
      {"SUM over 1, NULL, 2", doSUM, false, oneNullTwo, "INT64 3"},
      {"AVG over 1, NULL, 2", doAVG, false, oneNullTwo, "DOUBLE 1.5"},
      {"MIN over 1, NULL, 2", doMIN, false, oneNullTwo, "INTEGER 1"},
      {"MAX over 1, NULL, 2", doMAX, false, oneNullTwo, "INTEGER 2"},
      {"MIN starting with a null", doMIN, false, {Nul(), Int(5), Int(3)}, "INTEGER 3"},
      {"COUNT over nulls", doCOUNT, false, allNull, "INTEGER 0"},
      {"SUM over nulls", doSUM, false, allNull, "UNKNOWN NULL"},
      {"AVG over nulls", doAVG, false, allNull, "DOUBLE NULL"},
      {"MIN over nulls", doMIN, false, allNull, "INTEGER NULL"},
      {"MAX over nulls", doMAX, false, allNull, "INTEGER NULL"},
      {"COUNT(*) over no rows", doCOUNTALL, false, {}, "INTEGER 0"},
      {"SUM over no rows", doSUM, false, {}, "UNKNOWN NULL"},
      {"MIN ignores case", doMIN, false, letters, "VARCHAR A"},
      {"MAX ignores case", doMAX, false, letters, "VARCHAR c"},
      {"MIN keeps the first of equal texts", doMIN, false, {Text("a"), Text("A")}, "VARCHAR a"},
      // Integer sums run in 64 bits: no wrap at the arguments' width.
      {"SUM beyond 2^31", doSUM, false, {Int(kMax), Int(kMax), Int(5)}, "INT64 4294967299"},
      {"SUM below -2^31", doSUM, false, {Int(-kMax), Int(-kMax), Int(-5)}, "INT64 -4294967299"},
      {"SUM of LARGEINTs", doSUM, false, {Big(int64_t{1} << 40), Int(1)}, "INT64 1099511627777"},
      {"SUM past 64 bits", doSUM, false, {Big(INT64_MAX), Int(1)}, "!EIntOverflow"},
      {"SUM of integers and a double", doSUM, false, {Int(1), Dbl(0.5)}, "DOUBLE 1.5"},
      {"SUM of currency", doSUM, false, {Money(1.25), Money(2.5)}, "CURRENCY 3.75"},
      {"AVG of currency", doAVG, false, {Money(1), Money(2)}, "DOUBLE 1.5"},
      {"SUM of a text", doSUM, false, {Int(1), Text("x")}, "!30132"},
      {"SUM skips a null text", doSUM, false, {Nul(bftVarchar), Int(1)}, "INT64 1"},
      {"AVG of a text", doAVG, false, {Text("x")}, "!30133"},
      // DISTINCT: each distinct non-null value once, told apart as SELECT
      // DISTINCT tells them apart (case-sensitively).
      {"COUNT(DISTINCT)", doCOUNT, true, {Int(1), Int(1), Nul(), Int(2), Int(2)}, "INTEGER 2"},
      {"SUM(DISTINCT)", doSUM, true, {Int(2), Int(1), Int(2), Nul(), Int(1)}, "INT64 3"},
      {"AVG(DISTINCT)", doAVG, true, {Int(1), Int(1), Int(1), Int(2)}, "DOUBLE 1.5"},
      {"MIN(DISTINCT)", doMIN, true, {Int(3), Int(1), Int(1)}, "INTEGER 1"},
      {"COUNT(DISTINCT) of texts", doCOUNT, true, {Text("a"), Text("A"), Text("a")}, "INTEGER 2"},
      {"COUNT(DISTINCT) of 1 and 1.0", doCOUNT, true, {Int(1), Dbl(1.0)}, "INTEGER 1"},
      {"SUM without DISTINCT", doSUM, false, {Int(2), Int(1), Int(2)}, "INT64 5"},
  };
  for (const Case& c : cases) {
    Fed agg(c.op, c.distinct);
    EXPECT_EQ(agg.Group(c.rows), c.expected) << c.text;
  }
}

TEST(Aggregate, InitStartsEachGroupAfresh) {
  // The running value, the count and the values DISTINCT has seen all belong
  // to one group.
  for (TVEXDataOperator op : {doSUM, doAVG, doCOUNT, doMAX}) {
    Fed agg(op, true);
    agg.Group({Int(7), Int(9)});
    EXPECT_EQ(agg.Group({Int(7)}), op == doCOUNT ? "INTEGER 1"
                                   : op == doAVG ? "DOUBLE 7"
                                   : op == doSUM ? "INT64 7"
                                                 : "INTEGER 7")
        << GetOperatorName(op);
  }
  Fed avg(doAVG);
  avg.Group({Int(4)});
  EXPECT_EQ(avg.Group({Nul()}), "DOUBLE NULL");
}

TEST(Aggregate, AnOperatorThatIsNoAggregateRaises30134) {
  TVEXExprNodeAggregated node(doADD, false, I(1));
  node.Init();
  EXPECT_THAT([&] { node.Accumulate(); }, RaisesNativeError(30134));
}

TEST(Aggregate, TypesAndSizesOfTheResultColumn) {
  struct Case {
    TVEXDataOperator op;
    std::function<TVEXExprNodePtr()> arg;
    TVEXAdvancedFieldType type;
    int32_t size;
  };
  const Case cases[] = {
      {doSUM, [] { return I(1); }, aftLargeint, 0},
      {doSUM, [] { return Const([](TVEXVariant& x) { x.SetAsSmallint(1); }); }, aftLargeint, 0},
      {doSUM, [] { return Const([](TVEXVariant& x) { x.SetAsCurrency(1); }); }, aftCurrency, 0},
      {doSUM, [] { return D(1); }, aftDouble, 0},
      {doAVG, [] { return I(1); }, aftDouble, 0},
      {doMIN, [] { return S("abc"); }, aftString, 3},
      {doMAX, [] { return D(1); }, aftDouble, 0},
      {doCOUNT, [] { return S("abc"); }, aftInteger, 0},
  };
  for (const Case& c : cases) {
    TVEXExprNodeAggregated node(c.op, false, c.arg());
    EXPECT_EQ(node.GetDataType(), c.type) << GetOperatorName(c.op);
    EXPECT_EQ(node.GetDataSize(), c.size) << GetOperatorName(c.op);
  }
  TVEXExprNodeAggregated countAll(doCOUNTALL);
  EXPECT_EQ(countAll.GetDataType(), aftInteger);
  EXPECT_TRUE(countAll.IsAggregatedCountAll());
}

// ---- through the grouping operator

// A cell of a table row: an integer, a text, or null.
struct Cell {
  Cell(int32_t v) : Int(v), Kind(0) {}      // NOLINT: rows read as literals
  Cell(const char* v) : Txt(v), Kind(1) {}  // NOLINT
  Cell(std::nullptr_t) : Kind(2) {}         // NOLINT
  int32_t Int = 0;
  std::string Txt;
  int Kind;
};

using Lines = std::vector<std::string>;

class Grouping : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& name : Made) {
      std::unique_ptr<TVEXTable> t = Component(name);
      if (t->Exists()) t->DeleteTable();
    }
  }

  // A closed table component on the in-memory table Name.
  static std::unique_ptr<TVEXTable> Component(const std::string& Name) {
    auto t = std::make_unique<TVEXTable>(nullptr);
    t->SetDatabaseName("MEMORY");
    t->SetTableName(Name);
    return t;
  }
  // T(ID Integer, NAME Varchar(10), K Integer, C Currency); C is ID / 4.
  void MakeTable(const std::string& Name, const std::vector<std::vector<Cell>>& Rows) {
    std::unique_ptr<TVEXTable> t = Component(Name);
    t->AdvFieldDefs().Add("ID", aftInteger, 0, false);
    t->AdvFieldDefs().Add("NAME", aftString, 10, false);
    t->AdvFieldDefs().Add("K", aftInteger, 0, false);
    t->AdvFieldDefs().Add("C", aftCurrency, 0, false);
    t->CreateTable();
    Made.push_back(Name);
    t->Open();
    for (const auto& row : Rows) {
      t->Append();
      for (int32_t f = 0; f < 3; ++f) {
        if (row[f].Kind == 0) t->Fields()[f]->SetAsVariant(rtl::Variant(row[f].Int));
        if (row[f].Kind == 1) t->Fields()[f]->SetAsVariant(rtl::Variant(row[f].Txt));
      }
      if (row[0].Kind == 0) t->Fields()[3]->SetAsVariant(rtl::Variant(row[0].Int / 4.0));
      t->Post();
    }
  }
  // A table operator over Name, opened as a statement opens its FROM table.
  static std::unique_ptr<TVEXAOTable> Table(const std::string& Name) {
    std::unique_ptr<TVEXTable> t = Component(Name);
    t->Open();
    TVEXDatabase* database = t->Database();
    return std::make_unique<TVEXAOTable>(Name, "", database, std::move(t));
  }
  // An expression parsed from Text; its lexer lives as long as the test.
  std::unique_ptr<TVEXExpression> Expr(const std::string& Text, bool Condition = false) {
    Lexers.push_back(std::make_unique<TVEXLexer>(rtl::Utf8ToUtf16(Text), nullptr, false));
    Lexers.back()->GetNextCommand();
    auto e = std::make_unique<TVEXExpression>();
    if (Condition)
      e->ParseForBooleanExpression(nullptr, *Lexers.back());
    else
      e->ParseForValueExpression(nullptr, *Lexers.back());
    return e;
  }
  static TVEXSelectListItem Col(const std::string& Name) {
    TVEXSelectListItem item;
    item.FieldName = Name;
    return item;
  }
  // Each computed item is named after its text.
  std::vector<TVEXSelectListItem> List(const std::vector<std::string>& Items) {
    std::vector<TVEXSelectListItem> list;
    for (const std::string& text : Items) {
      if (text.find('(') == std::string::npos) {
        list.push_back(Col(text));
        continue;
      }
      TVEXSelectListItem item;
      item.IsExpression = true;
      item.ValueExpr = Expr(text).release();
      item.Pseudonym = "C" + std::to_string(list.size());
      list.push_back(item);
    }
    return list;
  }
  // A grouping operator over table Name (grouped by GroupBy when not empty)
  // with the select list Items, executed.
  std::unique_ptr<TVEXAOGroupBy> Run(const std::string& Name, const std::string& GroupBy,
                                     const std::vector<std::string>& Items,
                                     const std::string& Where = "") {
    auto input = Table(Name);
    if (!Where.empty()) input->SetFilter(Expr(Where, true));
    std::vector<TVEXSelectListItem> list = List(Items);
    TVEXFields groupBy;
    if (!GroupBy.empty()) groupBy.Append(Col(GroupBy));
    auto group = std::make_unique<TVEXAOGroupBy>(std::move(input), &groupBy, list);
    group->SetResultFields(list, false);
    group->Execute(true, nullptr, nullptr);
    return group;
  }
  // The visible columns of every row, in select-list order ("-" for null).
  static Lines Rows(TVEXAO& Op) {
    Lines rows;
    for (Op.First(); !Op.Eof(); Op.Next()) {
      std::string row;
      for (int32_t c : Op.ResultFieldsOrder()) {
        TVEXVariant v;
        Op.GetFieldValue(v, c, true, false);
        if (!row.empty()) row += "|";
        row += v.IsNull() ? "-" : v.AsAnsiString();
      }
      rows.push_back(row);
    }
    return rows;
  }
  static std::vector<TVEXAdvancedFieldType> Types(TVEXAO& Op) {
    std::vector<TVEXAdvancedFieldType> types;
    for (int32_t c : Op.ResultFieldsOrder()) types.push_back(Op.GetFieldType(c));
    return types;
  }

  std::vector<std::string> Made;
  std::vector<std::unique_ptr<TVEXLexer>> Lexers;
};

const std::vector<std::vector<Cell>> kRows = {{1, "b", 20}, {2, "A", nullptr},
                                              {3, "c", 20}, {4, nullptr, 10},
                                              {6, "a", 20}, {nullptr, "d", 10}};

TEST_F(Grouping, EveryAggregatePerGroupWithNullKeysTogether) {
  MakeTable("G", kRows);
  auto group = Run("G", "K",
                   {"K", "COUNT(*)", "COUNT(ID)", "SUM(ID)", "AVG(ID)", "MIN(NAME)", "MAX(NAME)",
                    "SUM(C)", "SUM(ID) * 2"});
  EXPECT_EQ(Rows(*group), (Lines{"-|1|1|2|2|A|A|0.5|4", "10|2|1|4|4|d|d|1|8",
                                 "20|3|3|10|3.33333333333333|a|c|2.5|20"}));
  EXPECT_EQ(Types(*group), (std::vector<TVEXAdvancedFieldType>{
                               aftInteger, aftInteger, aftInteger, aftLargeint, aftDouble,
                               aftString, aftString, aftCurrency, aftLargeint}));
}

TEST_F(Grouping, OneRowOverAnEmptyInput) {
  MakeTable("E", {});
  auto group = Run("E", "", {"COUNT(*)", "COUNT(ID)", "SUM(ID)", "AVG(ID)", "MIN(NAME)"});
  EXPECT_EQ(Rows(*group), (Lines{"0|0|-|-|-"}));
}

TEST_F(Grouping, SumBeyondTheIntegerRangeIsStoredAsLargeint) {
  MakeTable("G", {{2000000000, "a", 1}, {2000000000, "b", 1}, {2000000000, "c", 2}});
  auto group = Run("G", "K", {"K", "SUM(ID)", "SUM(DISTINCT ID)", "COUNT(DISTINCT ID)"});
  EXPECT_EQ(Rows(*group), (Lines{"1|4000000000|2000000000|1", "2|2000000000|2000000000|1"}));
}

TEST_F(Grouping, DistinctAggregatesTakeEachValueOncePerGroup) {
  MakeTable("G", {{1, "a", 5}, {1, "A", 5}, {2, "a", 5}, {nullptr, "a", 5}, {1, "b", 6}});
  auto group = Run("G", "K",
                   {"K", "COUNT(DISTINCT ID)", "SUM(DISTINCT ID)", "AVG(DISTINCT ID)",
                    "COUNT(DISTINCT NAME)", "COUNT(ID)"});
  EXPECT_EQ(Rows(*group), (Lines{"5|2|3|1.5|2|3", "6|1|1|1|1|1"}));
}

TEST_F(Grouping, CountAllComesFromTheRecordCountAlsoUnderAWhere) {
  MakeTable("G", kRows);
  struct Case {
    const char* where;
    const char* count;
    const char* sum;
  };
  for (const Case& c :
       {Case{"", "6", "16"}, Case{"K = 20", "3", "10"}, Case{"ID > 100", "0", "-"}}) {
    // COUNT(*) alone takes the input's record count; beside another
    // aggregate it counts the rows it reads. Both must agree.
    auto alone = Run("G", "", {"COUNT(*)", "COUNT(*)"}, c.where);
    auto counted = Run("G", "", {"COUNT(*)", "SUM(ID)"}, c.where);
    EXPECT_EQ(Rows(*alone), (Lines{std::string(c.count) + "|" + c.count})) << c.where;
    EXPECT_EQ(Rows(*counted), (Lines{std::string(c.count) + "|" + c.sum})) << c.where;
  }
}

TEST_F(Grouping, SumOfATextRaises30132AtTheFirstNonNullText) {
  MakeTable("G", {{1, nullptr, 1}, {2, "x", 1}});
  EXPECT_THAT([&] { Run("G", "", {"SUM(NAME)"}); }, RaisesNativeError(30132));
  MakeTable("N", {{1, nullptr, 1}, {2, nullptr, 1}});
  EXPECT_EQ(Rows(*Run("N", "", {"SUM(NAME)"})), (Lines{"-"}));
  EXPECT_THAT([&] { Run("G", "", {"AVG(NAME)"}); }, RaisesNativeError(30133));
}

TEST_F(Grouping, AnAggregateInWhereIsAssignableOnlyToAGroupingOperator) {
  MakeTable("G", kRows);
  std::unique_ptr<TVEXExpression> where = Expr("SUM(K) > 10 AND ID = 1", true);
  auto table = Table("G");
  std::vector<TVEXSelectListItem> none;
  TVEXAOGroupBy group(Table("G"), nullptr, none);
  TVEXExprNode& root = *where->RootNode();
  TVEXExprNode& sum = *root.Children[0];
  EXPECT_FALSE(sum.CanBeAssigned(table.get(), nullptr, nullptr, false));
  EXPECT_FALSE(sum.CanBeAssigned(nullptr, nullptr, nullptr, false));
  EXPECT_TRUE(sum.CanBeAssigned(&group, nullptr, nullptr, true));
  // Pushing the WHERE down into the table operator leaves the aggregate part.
  EXPECT_TRUE(ApplyFilterParts(*where, *table, nullptr, nullptr));
  ASSERT_NE(where->RootNode(), nullptr);
  EXPECT_TRUE(where->IsAggregated());
  EXPECT_FALSE(table->FilterExpr()->IsAggregated());
}

}  // namespace
