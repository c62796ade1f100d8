#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ExprNodeTestSupport.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using namespace exprtest;
using testsupport::RaisesNativeError;

// A truth value that was never stored has no type yet.
const std::string T = "LOGICAL TRUE", F = "LOGICAL FALSE", N = "UNKNOWN NULL";
TVEXExprNodePtr NullB() { return Null(bftLogical); }

TEST(ExprConditionNodes, NotAndOrPropagateNullFalseBeatsNullInAndTrueInOr) {
  RunCases({
      {"NOT NULL", [] { return Bool(doNOT, NullB()); }, N},
      {"NOT TRUE", [] { return Bool(doNOT, B(true)); }, F},
      {"NULL AND FALSE", [] { return Bool(doAND, NullB(), B(false)); }, F},
      {"NULL AND TRUE", [] { return Bool(doAND, NullB(), B(true)); }, N},
      {"TRUE AND TRUE AND TRUE", [] { return Bool(doAND, B(true), B(true), B(true)); }, T},
      {"NULL OR TRUE", [] { return Bool(doOR, NullB(), B(true)); }, T},
      {"NULL OR FALSE", [] { return Bool(doOR, NullB(), B(false)); }, N},
      {"FALSE OR FALSE", [] { return Bool(doOR, B(false), B(false)); }, F},
      {"doTRUE is not evaluated", [] { return Bool(doTRUE); }, "!30116"},
  });
}

TEST(ExprConditionNodes, AndStopsAtFirstFalseAndOrAtFirstTrue) {
  int after = 0;
  auto counted = [&] { return std::make_unique<Probe>(aftBoolean, 0, &after); };
  TVEXExprNodePtr a = Bool(doAND, B(true), B(false), counted());
  EXPECT_EQ(Eval(*a), F);
  TVEXExprNodePtr o = Bool(doOR, NullB(), B(true), counted());
  EXPECT_EQ(Eval(*o), T);
  EXPECT_EQ(after, 0);
  // Without a deciding operand every one is evaluated.
  TVEXExprNodePtr all = Bool(doAND, B(true), NullB(), counted());
  EXPECT_EQ(Eval(*all), N);  // the probe's value is null
  EXPECT_EQ(after, 1);
}

TEST(ExprConditionNodes, InBetweenAndIsNull) {
  RunCases({
      {"5 IN (1, NULL, 5)", [] { return Bool(doIN, I(5), I(1), Null(), I(5)); }, T},
      {"5 IN (1, NULL)", [] { return Bool(doIN, I(5), I(1), Null()); }, F},
      {"NULL IN (1, 2)", [] { return Bool(doIN, Null(), I(1), I(2)); }, N},
      {"5 NOT IN (1, NULL)", [] { return Bool(doNOTIN, I(5), I(1), Null()); }, T},
      {"NULL NOT IN (1)", [] { return Bool(doNOTIN, Null(), I(1)); }, N},
      {"'b' IN ('A', 'B') ignores case", [] { return Bool(doIN, S("b"), S("A"), S("B")); }, T},
      {"2 IN (1.0, 2.0)", [] { return Bool(doIN, I(2), D(1), D(2)); }, T},
      {"5 BETWEEN 1 AND 10", [] { return Bool(doBETWEEN, I(5), I(1), I(10)); }, T},
      {"5 BETWEEN 5 AND 5", [] { return Bool(doBETWEEN, I(5), I(5), I(5)); }, T},
      {"5 BETWEEN 10 AND 1", [] { return Bool(doBETWEEN, I(5), I(10), I(1)); }, F},
      {"5 BETWEEN NULL AND 10", [] { return Bool(doBETWEEN, I(5), Null(), I(10)); }, N},
      {"5 NOT BETWEEN 10 AND 1", [] { return Bool(doNOTBETWEEN, I(5), I(10), I(1)); }, T},
      {"'b' BETWEEN 'A' AND 'C'", [] { return Bool(doBETWEEN, S("b"), S("A"), S("C")); }, T},
      {"NULL IS NULL", [] { return Bool(doISNULL, Null()); }, T},
      {"1 IS NULL", [] { return Bool(doISNULL, I(1)); }, F},
      {"NULL IS NOT NULL", [] { return Bool(doISNOTNULL, Null()); }, F},
      {"'' IS NOT NULL (the empty text is null)", [] { return Bool(doISNOTNULL, S("")); }, F},
  });
}

TVEXExprNodePtr Like(TVEXExprNodePtr text, TVEXExprNodePtr pattern, std::string escape = "",
                     bool ci = false, TVEXDataOperator op = doLIKE) {
  return With(std::make_unique<TVEXExprNodeBoolean>(op, ci, false, escape), std::move(text),
              std::move(pattern));
}

TEST(ExprConditionNodes, LikeWithNullsNumbersBlobsEscapeAndCase) {
  RunCases({
      {"'abc' LIKE 'a%'", [] { return Like(S("abc"), S("a%")); }, T},
      {"'abc' LIKE 'a_c'", [] { return Like(S("abc"), S("a_c")); }, T},
      {"'abc' LIKE 'A%'", [] { return Like(S("abc"), S("A%")); }, F},
      {"'abc' LIKE 'A%' ignoring case", [] { return Like(S("abc"), S("A%"), "", true); }, T},
      {"'abc' NOT LIKE 'b%'", [] { return Like(S("abc"), S("b%"), "", false, doNOTLIKE); }, T},
      {"'abc' LIKE NULL", [] { return Like(S("abc"), Null(bftVarchar)); }, N},
      {"'abc' NOT LIKE NULL", [] { return Like(S("abc"), Null(bftVarchar), "", false, doNOTLIKE); },
       N},
      {"NULL LIKE '%'", [] { return Like(Null(bftVarchar), S("%")); }, T},
      {"NULL LIKE '%a'", [] { return Like(Null(bftVarchar), S("%a")); }, F},
      {"integer NULL LIKE '%'", [] { return Like(Null(), S("%")); }, T},
      {"15 LIKE '%5'", [] { return Like(I(15), S("%5")); }, T},
      {"16 LIKE '%5'", [] { return Like(I(16), S("%5")); }, F},
      {"BLOB LIKE '%a'", [] { return Like(Blob("ba"), S("%a")); }, "!30120"},
      {"'50%' LIKE '50!%' ESCAPE '!'", [] { return Like(S("50%"), S("50!%"), "!"); }, T},
      {"'500' LIKE '50!%' ESCAPE '!'", [] { return Like(S("500"), S("50!%"), "!"); }, F},
      {"'500' LIKE '50!%' without escape", [] { return Like(S("500"), S("50!%")); }, F},
      {"wide 'Ünï' LIKE '_N%' ignoring case", [] { return Like(W(u"Ünï"), S("_N%"), "", true); },
       T},
      {"wide 'a_b' LIKE 'a\\_b' ESCAPE '\\'", [] { return Like(W(u"a_b"), W(u"a\\_b"), "\\"); }, T},
  });
}

TEST(ExprConditionNodes, ComparisonsThreeValuedAndTwoValued) {
  RunCases({
      {"1 = 1", [] { return Cmp(doEQ, I(1), I(1)); }, T},
      {"1 < 2.5", [] { return Cmp(doLT, I(1), D(2.5)); }, T},
      {"2 >= 2", [] { return Cmp(doGE, I(2), I(2)); }, T},
      {"3 <= 2", [] { return Cmp(doLE, I(3), I(2)); }, F},
      {"3 > 2", [] { return Cmp(doGT, I(3), I(2)); }, T},
      {"1 <> 2", [] { return Cmp(doNE, I(1), I(2)); }, T},
      {"NULL = NULL (3VL)", [] { return Cmp(doEQ, Null(), Null()); }, F},
      {"NULL <> 1 (3VL)", [] { return Cmp(doNE, Null(), I(1)); }, F},
      {"1 <> NULL (3VL)", [] { return Cmp(doNE, I(1), Null()); }, F},
      {"NULL < 1 (3VL)", [] { return Cmp(doLT, Null(), I(1)); }, F},
      {"NULL = NULL (2VL)", [] { return Cmp(doEQ, Null(), Null(), false); }, T},
      {"NULL < 1 (2VL)", [] { return Cmp(doLT, Null(), I(1), false); }, T},
      {"NULL <> 1 (2VL)", [] { return Cmp(doNE, Null(), I(1), false); }, T},
      {"1 > NULL (2VL)", [] { return Cmp(doGT, I(1), Null(), false); }, T},
      {"'b' = 'B'", [] { return Cmp(doEQ, S("b"), S("B")); }, F},
      {"'b' = 'B' ignoring case", [] { return Cmp(doEQ, S("b"), S("B"), true, true); }, T},
      {"UPPER('abc') = 'ABC'", [] { return Cmp(doEQ, Str(doUPPER, S("abc")), S("ABC")); }, T},
      {"LOWER('ÀBC') = 'àbc'",
       [] {
         return Cmp(doEQ,
                    Str(doLOWER, S("\xC0"
                                   "BC")),
                    S("\xE0"
                      "bc"));
       },
       T},
      {"UPPER(wide 'straße') = wide 'STRAßE'",
       [] { return Cmp(doEQ, Str(doUPPER, W(u"stra\u00dfe")), W(u"STRA\u00dfE")); }, T},
      {"'abc' = wide 'abc'", [] { return Cmp(doEQ, S("abc"), W(u"abc")); }, T},
      {"doNOT as a comparison", [] { return Cmp(doNOT, I(1), I(1)); }, "!30117"},
      {"1 = 'x' (no common value)", [] { return Cmp(doEQ, I(1), Blob("x")); }, "!30044"},
  });
}

TEST(ExprConditionNodes, PartialKeyComparesOnlyTheRightOperandsLength) {
  auto n = std::make_unique<TVEXExprNodeComparison>(doEQ, S("abcdef"), S("abc"), true, false, true);
  EXPECT_EQ(Eval(*n), T);
  auto m = std::make_unique<TVEXExprNodeComparison>(doEQ, S("abx"), S("abc"), true, false, true);
  EXPECT_EQ(Eval(*m), F);
}

TEST(ExprConditionNodes, ConditionsTypeThemselvesByTheFoldOfTheirOperands) {
  EXPECT_EQ(Cmp(doEQ, I(1), D(2))->GetDataType(), aftDouble);
  EXPECT_EQ(Bool(doAND, Cmp(doEQ, I(1), I(2)), Cmp(doEQ, D(1), D(2)))->GetDataType(), aftDouble);
  // An incompatible pair is found when the type is asked, not when evaluated.
  TVEXExprNodePtr mixed = Cmp(doEQ, S("a"), Blob("a"));
  EXPECT_THAT([&] { mixed->GetDataType(); }, RaisesNativeError(30283));
}

TEST(ExprConditionNodes, ConstantsKnowTheirSizePartialPatternsAndCase) {
  EXPECT_EQ(S("abc")->GetDataSize(), 3);
  EXPECT_EQ(W(u"abc")->GetDataSize(), 6);
  EXPECT_EQ(I(42)->GetDataSize(), 0);
  EXPECT_EQ(Null(bftVarchar)->GetDataSize(), 0);
  EXPECT_EQ(Null(bftVarchar)->GetDataType(), aftString);
  for (auto [text, partial] : std::vector<std::pair<std::string, bool>>{
           {"abc%", true}, {"a_c%", true}, {"%", false}, {"abc", false}, {"a%b%", false}}) {
    auto c = std::make_unique<TVEXExprNodeConst>(false, false);
    c->Value.SetAsAnsiString(text);
    EXPECT_EQ(c->IsLikePatternEqualToPartialComparePattern(), partial) << text;
  }
  auto w = std::make_unique<TVEXExprNodeConst>(false, false);
  w->Value.SetAsWideString(u"ab%");
  w->TruncateForPartialCompare();
  EXPECT_EQ(Show(w->Value), Show(W(u"ab")->GetDataValue()));
  auto up = [](TVEXExprNodePtr n) { return static_cast<TVEXExprNodeConst&>(*n).IsUpperCase(); };
  auto low = [](TVEXExprNodePtr n) { return static_cast<TVEXExprNodeConst&>(*n).IsLowerCase(); };
  EXPECT_TRUE(up(S("ABC1")));
  EXPECT_FALSE(up(S("AbC")));
  EXPECT_FALSE(up(I(5)));
  EXPECT_TRUE(up(W(u"\u00c9T\u00c9")));
  EXPECT_TRUE(low(S("\xE9t\xE9")));
  EXPECT_FALSE(low(S("\xC9t\xE9")));
}

TEST(ExprConditionNodes, RowNumCountsEveryEvaluationOfTheSameNode) {
  TVEXExprNodeSystem rownum(doROWNUM, "", "", "", "", false);
  EXPECT_EQ(Eval(rownum), "INTEGER 1");
  EXPECT_EQ(Eval(rownum), "INTEGER 2");
  EXPECT_EQ(Eval(rownum), "INTEGER 3");
  EXPECT_EQ(rownum.GetDataType(), aftInteger);
  rownum.FRowNumValue = INT32_MAX;
  EXPECT_EQ(Eval(rownum), "!EIntOverflow");
  TVEXExprNodeSystem other(doMIMETOBIN, "", "", "", "", false);
  EXPECT_EQ(Eval(other), "!30338");
}

}  // namespace
}  // namespace vex
