#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ExprCursorFixture.h"
#include "ExprDump.h"
#include "ExprNodeTestSupport.h"
#include "engine/storage/VEXManagerFakes.h"
#include "foundation/VEXStartup.h"
#include "rtl/CodePage.h"
#include "rtl/Variant.h"
#include "sql/expression/VEXExpression.h"
#include "sql/VEXLexer.h"
#include "storage/VEXMetaDefs.h"
#include "storage/VEXSeams.h"
#include "storage/search/VEXScanConditions.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using exprtest::CursorFixture;
using exprtest::Dump;
using testsupport::CodeOf;
using testsupport::MessageOf;

constexpr int32_t kID = 0, kNAME = 1, kCODE = 5;

TEST(Expression, FilterEntryPointRefusesBlankTextsAndParameters) {
  TVEXExpression e;
  EXPECT_EQ(MessageOf([&] { e.ParseForFilter(nullptr, u"  ", false, false); }),
            "Blank SQL command - Native error: 30119");
  EXPECT_EQ(CodeOf([&] { e.ParseForFilter(nullptr, u"-- nothing", false, false); }), 30119);
  EXPECT_EQ(CodeOf([&] { e.ParseForFilter(nullptr, u"x = :p", false, false); }), 30358);
  EXPECT_EQ(CodeOf([&] { e.ParseForFilter(nullptr, u"= x", false, false); }), 30066);
  // Mended: nothing written after the condition is dropped silently.
  EXPECT_EQ(MessageOf([&] { e.ParseForFilter(nullptr, u"Name = 'a' Age = 5", false, false); }),
            "End of filter expected, but 'Age' found at line 1, column 12 - Native error: 30514");
  EXPECT_EQ(CodeOf([&] { e.ParseForFilter(nullptr, u"x IN (1, =)", false, false); }), 30514);
  EXPECT_TRUE(e.IsEmpty());
}

TEST(Expression, StatementEntryPointsAtTheEndOfTheCommandAndBeforeASubquery) {
  TVEXLexer lexer(u"a +\n b", nullptr, false);
  lexer.GetNextCommand();
  TToken t;
  lexer.SetCurrentTokenNo(3, t);
  TVEXExpression e;
  EXPECT_EQ(MessageOf([&] { e.ParseForBooleanExpression(nullptr, lexer); }),
            "Unexpected end of SQL command found at line 2, column 2 - Native error: 30118");
  EXPECT_EQ(CodeOf([&] { e.ParseForValueExpression(nullptr, lexer); }), 30136);
  EXPECT_EQ(CodeOf([&] { e.ParseForRowSubqueryExpression(nullptr, lexer); }), 30497);
  lexer.SetCurrentTokenNo(0, t);
  e.ParseForRowSubqueryExpression(nullptr, lexer);  // no subquery starts at "a"
  EXPECT_TRUE(e.IsEmpty());
  e.ParseForValueExpression(nullptr, lexer);
  EXPECT_EQ(Dump(e), "(+ a b)");
  EXPECT_FALSE(lexer.GetCurrentToken(t));  // the lexer stands after the expression
}

TEST(Expression, FilterBindsItsColumnsToTheCursorAndEvaluatesRecords) {
  CursorFixture f;
  TVEXExpression e;
  e.ParseForFilter(&f.Cursor, u"id > 2 AND (name = 'jo*' OR code IS NULL)", true, true);
  EXPECT_EQ(Dump(e), "(AND (>3 id 2) (OR (=2P name 'jo') (ISNULL code)))");
  std::vector<uint8_t> record = testing::NullRecord(f.Cursor.FieldDefs());
  f.SetInt(record, kID, 5);
  f.SetText(record, kNAME, "Joanna");
  f.SetInt(record, kCODE, 1);
  e.AssignCursorBuffer(record.data(), false);
  EXPECT_TRUE(e.GetResult());  // partial key, case ignored
  f.SetText(record, kNAME, "Ann");
  EXPECT_FALSE(e.GetResult());
  f.SetNull(record, kCODE);
  EXPECT_TRUE(e.GetResult());
  f.SetNull(record, kID);  // a null column compared three-valued is False
  EXPECT_FALSE(e.GetResult());
  EXPECT_EQ(CodeOf([&] { e.ParseForFilter(&f.Cursor, u"nosuch = 1", false, false); }), 30115);
}

TEST(Expression, LocateBuildsEqualitiesReadingTheKeyArrayFromItsLowBound) {
  CursorFixture f;
  TVEXExpression e;
  e.ParseForLocate(&f.Cursor, "Name; id", rtl::Variant::ArrayOf({"Jo", 5}), false, false);
  EXPECT_EQ(Dump(e), "(AND (=2 NAME 'Jo') (=2 ID 5))");
  e.ParseForLocate(&f.Cursor, "id", rtl::Variant::ArrayOf({7}), false, false);
  EXPECT_EQ(Dump(e), "(AND (=2 ID 7))");
  e.ParseForLocate(&f.Cursor, "id", rtl::Variant(7), true, true);
  EXPECT_EQ(Dump(e), "(=2P ID 7)");
  // Mended: an array whose low bound is not 0 is read from that bound.
  rtl::Variant keys = rtl::Variant::Array(3, 4);
  keys.SetElement(3, 8);
  keys.SetElement(4, "x");
  e.ParseForLocate(&f.Cursor, "id;name", keys, false, false);
  EXPECT_EQ(Dump(e), "(AND (=2 ID 8) (=2 NAME 'x'))");
  EXPECT_EQ(
      MessageOf([&] { e.ParseForLocate(&f.Cursor, "id;name", rtl::Variant(1), false, false); }),
      "Count of FieldNames (2) not equal counts of KeyValues (1) - Native error: 30112");

  // Two-valued: a null key finds the null column.
  e.ParseForLocate(&f.Cursor, "code", rtl::Variant::Null(), false, false);
  std::vector<uint8_t> record = testing::NullRecord(f.Cursor.FieldDefs());
  e.AssignCursorBuffer(record.data(), false);
  EXPECT_TRUE(e.GetResult());
}

TEST(Expression, LocateOnADateColumnTakesANumberAsADate) {
  testing::TestSession session;
  testing::TestCursor cursor{session, "T"};
  testing::AddField(cursor.FieldDefs(), "D", aftDate);
  cursor.FieldDefs().RecalcFieldOffsets();
  std::vector<uint8_t> record = testing::NullRecord(cursor.FieldDefs());
  cursor.SetCurrentRecordBuffer(record.data());
  TVEXExpression e;
  // The number becomes the date-time of that day, which compares equal to
  // the column's date.
  e.ParseForLocate(&cursor, "d", rtl::Variant(36526), false, false);
  EXPECT_EQ(Dump(e), "(=2 D TIMESTAMP:36526+0s)");
  e.ParseForLocate(&cursor, "d", rtl::Variant(36526.5), false, false);
  EXPECT_EQ(Dump(e), "(=2 D TIMESTAMP:36526+43200s)");
  e.ParseForLocate(&cursor, "d", rtl::Variant("x"), false, false);
  EXPECT_EQ(Dump(e), "(=2 D 'x')");
}

TEST(Expression, SingleComparisonIsTwoValuedAndCaseSensitive) {
  CursorFixture f;
  TVEXVariant three(bftUnknown);
  three.SetAsInteger(3);
  TVEXExpression e;
  e.ParseForIsAnyRecordMatchCondition(&f.Cursor, "ID", doGE, three);
  EXPECT_EQ(Dump(e), "(>=2 ID 3)");
  EXPECT_FALSE(e.ThreeValueLogic());
  std::vector<uint8_t> record = testing::NullRecord(f.Cursor.FieldDefs());
  f.SetInt(record, kID, 3);
  e.AssignCursorBuffer(record.data(), false);
  EXPECT_TRUE(e.GetResult());
  f.SetInt(record, kID, 2);
  EXPECT_FALSE(e.GetResult());
}

TEST(Expression, DefaultTextsAreExpressionsOnlyWhenTheyParseWholeAndDifferFromTheirValue) {
  auto isDefault = [](const std::string& text) {
    TVEXVariant v(bftUnknown);
    v.SetAsAnsiString(text);
    return IsDefaultValueExpression(v);
  };
  EXPECT_TRUE(isDefault("NOW"));
  EXPECT_TRUE(isDefault("CURRENT_DATE"));
  EXPECT_TRUE(isDefault("1+1"));
  EXPECT_FALSE(isDefault("12"));
  EXPECT_FALSE(isDefault("abc"));  // a column reference
  EXPECT_FALSE(isDefault("((("));  // does not scan
  EXPECT_FALSE(isDefault("1 x"));  // mended: a token after the expression
  EXPECT_FALSE(isDefault("1 + 1 x y"));
  EXPECT_FALSE(isDefault("1; 2"));        // two commands
  EXPECT_FALSE(isDefault("(SELECT 1)"));  // mended: a subquery makes a plain default
  EXPECT_FALSE(isDefault("SQRT(-1)"));    // evaluating raises: no exception escapes
  EXPECT_FALSE(isDefault(""));
  TVEXVariant number(bftUnknown);
  number.SetAsInteger(5);
  EXPECT_FALSE(IsDefaultValueExpression(number));

  TVEXExpression e;
  ASSERT_TRUE(e.ParseForDefaultValueExpression(u"1+1"));
  EXPECT_EQ(exprtest::Show(*e.GetValue(true)), "INTEGER 2");
  EXPECT_FALSE(e.ParseForDefaultValueExpression(u"1 x"));
  EXPECT_TRUE(e.IsEmpty());
}

TEST(Expression, TheSqlStartUpStepInstallsTheParserSeam) {
  StopEngine();
  RemoveSqlStartupSteps();  // the test main added it; this test adds it itself
  ASSERT_TRUE(AddSqlStartupSteps());
  EXPECT_FALSE(AddSqlStartupSteps());
  StartEngine();
  TVEXExpressionParser* parser = ExpressionParser();
  ASSERT_NE(parser, nullptr);
  std::unique_ptr<TVEXBaseExpression> e = parser->CreateDefaultValueExpression(u"2*3");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(exprtest::Show(*e->GetValue(true)), "INTEGER 6");
  EXPECT_EQ(parser->CreateDefaultValueExpression(u"2 3"), nullptr);
  StopEngine();
  EXPECT_EQ(ExpressionParser(), nullptr);
  EXPECT_TRUE(RemoveSqlStartupSteps());
  EXPECT_FALSE(RemoveSqlStartupSteps());
  AddSqlStartupSteps();
  StartEngine();
}

TEST(Expression, GetValueAndGetResultReadNullAsFalseOnlyWhenAsked) {
  using namespace exprtest;
  TVEXExpression e(Bool(doAND, B(true), Null(bftLogical)));
  EXPECT_EQ(Show(*e.GetValue(true)), "UNKNOWN NULL");
  EXPECT_EQ(Show(*e.GetValue(false)), "LOGICAL FALSE");
  EXPECT_FALSE(e.GetResult());
  TVEXExpression empty;
  EXPECT_EQ(empty.GetValue(true), nullptr);
  EXPECT_EQ(MessageOf([&] { empty.GetResult(); }), "Value is Null - Native error: 30110");
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_TRUE(TVEXExpression(Bool(doAND)).IsEmpty());
  EXPECT_FALSE(TVEXExpression(I(1)).IsEmpty());
  EXPECT_EQ(empty.GetDataType(), aftUnknown);
  EXPECT_TRUE(empty.CanBeUsedInGroupBy("X"));
}

TEST(Expression, FieldQueries) {
  TVEXLexer lexer(u"t.Name, UPPER(x), 1 + y", nullptr, false);
  lexer.GetNextCommand();
  TVEXExpression e;
  e.ParseForValueExpression(nullptr, lexer);
  EXPECT_TRUE(e.IsField());
  std::string table, field;
  e.GetFieldInfo(table, field);
  EXPECT_EQ(table + "|" + field, "t|Name");
  TToken t;
  lexer.GetNextToken(t);  // past the ","
  e.ParseForValueExpression(nullptr, lexer);
  EXPECT_FALSE(e.IsField());
  EXPECT_TRUE(e.IsFieldsExpression());
  EXPECT_EQ(MessageOf([&] { e.GetFieldInfo(table, field); }),
            "Node is not a field - Native error: 30198");
  lexer.GetNextToken(t);
  e.ParseForValueExpression(nullptr, lexer);
  EXPECT_TRUE(e.IsFieldsExpression());
  EXPECT_FALSE(e.IsAggregated());
}

std::unique_ptr<TVEXExpression> ParseFilter(const std::string& text) {
  auto e = std::make_unique<TVEXExpression>();
  e->ParseForFilter(nullptr, rtl::Utf8ToUtf16(text), false, false);
  return e;
}

TEST(Expression, AddAndMoveNodesFromExpressionAndsTheTreesTogether) {
  auto a = ParseFilter("a = 1");
  auto b = ParseFilter("b = 2 AND (c = 3 AND d = 4)");
  a->AddAndMoveNodesFromExpression(*b);
  EXPECT_EQ(Dump(*a), "(AND (=3 a 1) (=3 b 2) (=3 c 3) (=3 d 4))");
  EXPECT_EQ(b->RootNode(), nullptr);
  TVEXExpression empty;
  empty.AddAndMoveNodesFromExpression(*a);
  EXPECT_EQ(Dump(empty), "(AND (=3 a 1) (=3 b 2) (=3 c 3) (=3 d 4))");
}

TEST(Expression, TakeAssignablePartsMovesTheConjunctsAnOperatorCanEvaluate) {
  auto e = ParseFilter("a = 1 AND b = 2 AND c = 3");
  auto mine = [](TVEXExprNode& n) { return Dump(&n).find(" b ") == std::string::npos; };
  std::unique_ptr<TVEXExpression> taken = e->TakeAssignableParts(mine);
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(Dump(*taken), "(AND (=3 a 1) (=3 c 3))");
  EXPECT_EQ(Dump(*e), "(AND (=3 b 2))");
  EXPECT_NE(e->TakeAssignableParts([](TVEXExprNode&) { return true; }), nullptr);
  EXPECT_TRUE(e->IsEmpty());
  auto single = ParseFilter("a = 1");
  EXPECT_EQ(single->TakeAssignableParts([](TVEXExprNode&) { return false; }), nullptr);
  EXPECT_EQ(Dump(*single), "(=3 a 1)");
}

TEST(Expression, SplitFieldNamesTrimsUpperCasesAndKeepsInnerEmptyItems) {
  std::vector<std::string> list = {"old"};
  SplitFieldNames(list, " id ; name;");
  EXPECT_EQ(list, (std::vector<std::string>{"ID", "NAME"}));
  SplitFieldNames(list, "a;;b");
  EXPECT_EQ(list, (std::vector<std::string>{"A", "", "B"}));
  SplitFieldNames(list, "");
  EXPECT_TRUE(list.empty());
}

TEST(Expression, MirrorAndNegateComparisonOperators) {
  const TVEXDataOperator ops[] = {doEQ, doNE, doGT, doLT, doGE, doLE, doADD, doLIKE};
  const TVEXDataOperator mirrored[] = {doEQ, doNE, doLT,        doGT,
                                       doLE, doGE, doUNDEFINED, doUNDEFINED};
  const TVEXDataOperator negated[] = {doNE, doEQ, doLE, doGE, doLT, doGT, doUNDEFINED, doUNDEFINED};
  for (size_t i = 0; i < std::size(ops); ++i) {
    EXPECT_EQ(MirrorComparisonOperator(ops[i]), mirrored[i]) << i;
    EXPECT_EQ(NegateComparisonOperator(ops[i]), negated[i]) << i;
  }
  EXPECT_EQ(SQLTypeNameToAdvancedType("varchar"), aftString);
  EXPECT_EQ(SQLTypeNameToAdvancedType("nosuch"), aftUnknown);
}

// The storage side of a search: the scan-condition array asks the filter
// for index conditions, extends them over multi-column indexes, takes the
// chosen conditions' nodes out of the tree and gives them back.
struct SearchSetup {
  SearchSetup() {
    AddIndex({"ID", "CODE"});
    AddIndex({"NAME"});
  }
  void AddIndex(const std::vector<std::string>& columns) {
    TVEXIndexDef* def = Defs.AddCreated();
    def->Name = "I" + std::to_string(Defs.Count());
    def->ObjectID = Defs.Count();
    def->SetColumnCount(static_cast<int32_t>(columns.size()));
    for (size_t i = 0; i < columns.size(); ++i)
      def->GetIndexColumn(static_cast<int32_t>(i))->FieldName = columns[i];
  }
  CursorFixture f;
  TVEXIndexDefs Defs;
};

TEST(Expression, ScanConditionsFromAndTreesOverMultiColumnIndexes) {
  SearchSetup s;
  TVEXExpression e;
  e.ParseForFilter(&s.f.Cursor, u"code = 4 AND id = 3 AND name > 'k' AND (id = 9 OR code = 1)",
                   false, false);
  TVEXScanSearchConditionArray array;
  array.AddExpression(&e);
  array.CreateIndexScanConditionsFromExpressions(s.Defs, -1);
  // id = 3 on ID;CODE extended by code = 4, name > 'k' on NAME; the OR is
  // no scan condition, nor is code = 4 alone (CODE leads no index).
  std::vector<std::string> got;
  for (int32_t i = 0; i < array.Count(); ++i) {
    const TVEXScanSearchCondition& c = array[i];
    if (c.Expression) {
      got.push_back("filter");
      continue;
    }
    std::string nodes;
    for (TVEXExprNode* n : c.ParentExpressionNodes) nodes += Dump(n) + " ";
    got.push_back("index " + std::to_string(c.IndexID) + " keys " +
                  std::to_string(c.KeyFieldCount) + ": " + nodes);
  }
  EXPECT_EQ(got, (std::vector<std::string>{"filter", "index 1 keys 2: (=3 id 3) (=3 code 4) ",
                                           "index 2 keys 1: (>2 name 'k') "}));

  // Taking out the nodes of the chosen condition and putting them back gives
  // an equivalent tree.
  const std::string before = Dump(e);
  std::vector<uint8_t> record = testing::NullRecord(s.f.Cursor.FieldDefs());
  s.f.SetInt(record, kID, 3);
  s.f.SetInt(record, kCODE, 4);
  s.f.SetText(record, kNAME, "z");
  e.AssignCursorBuffer(record.data(), false);
  const bool result = e.GetResult();
  e.RemoveExtractedNodes(array, 1, 2);
  EXPECT_EQ(Dump(e), "(AND (OR (=3 id 9) (=3 code 1)))");
  EXPECT_FALSE(e.IsEmpty());
  for (int32_t no : {1, 2})
    for (TVEXExprNode* n : array[no].ParentExpressionNodes) e.AddNode(n);
  e.AddNode(array[1].ParentExpressionNodes[0]);  // a second return is ignored
  EXPECT_EQ(Dump(e), "(AND (OR (=3 id 9) (=3 code 1)) (=3 id 3) (=3 code 4) (>2 name 'k'))");
  EXPECT_EQ(e.GetResult(), result);
  EXPECT_EQ(before.size(), Dump(e).size());
}

TEST(Expression, ARootComparisonLeavesAndComesBackAsTheRoot) {
  SearchSetup s;
  TVEXExpression e;
  e.ParseForFilter(&s.f.Cursor, u"name = 'x'", false, false);
  TVEXScanSearchConditionArray array;
  array.AddExpression(&e);
  array.CreateIndexScanConditionsFromExpressions(s.Defs, -1);
  ASSERT_EQ(array.Count(), 2);
  e.RemoveExtractedNodes(array, 1, 300);  // 300 is no condition number
  EXPECT_TRUE(e.IsEmpty());
  EXPECT_EQ(CodeOf([&] { e.GetResult(); }), 30110);
  e.AddNode(array[1].ParentExpressionNodes[0]);
  EXPECT_EQ(Dump(e), "(=2 name 'x')");
}

}  // namespace
}  // namespace vex
