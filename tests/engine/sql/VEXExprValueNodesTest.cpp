#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "ExprNodeTestSupport.h"
#include "rtl/DateTime.h"
#include "support/FakeClock.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using namespace exprtest;
using testsupport::RaisesNativeError;


TEST(ExprValueNodes, Arithmetic) {
  RunCases({
      {"7 / 2 on integers truncates", [] { return Ar(doDIV, I(7), I(2)); }, "INTEGER 3"},
      {"7.0 / 2", [] { return Ar(doDIV, D(7), I(2)); }, "DOUBLE 3.5"},
      {"1 / 0", [] { return Ar(doDIV, I(1), I(0)); }, "!30128"},
      {"1 / NULL", [] { return Ar(doDIV, I(1), Null()); }, "INTEGER NULL"},
      {"1 - 2 - 3 (a sum of 1, -2 and -3)",
       [] { return Ar(doADD, I(1), Ar(doSUB, I(2)), Ar(doSUB, I(3))); }, "INTEGER -4"},
      {"-'a'", [] { return Ar(doSUB, S("a")); }, "!30123"},
      {"-NULL", [] { return Ar(doSUB, Null()); }, "INTEGER NULL"},
      {"a one-operand + copies", [] { return Ar(doADD, D(2.5)); }, "DOUBLE 2.5"},
      {"5 + NULL", [] { return Ar(doADD, I(5), Null()); }, "INTEGER NULL"},
      {"NULL + 5", [] { return Ar(doADD, Null(), I(5)); }, "INTEGER NULL"},
      {"'a' + NULL + 'b' skips the null text",
       [] { return Ar(doADD, S("a"), Null(bftVarchar), S("b")); }, "VARCHAR ab"},
      {"5 * NULL", [] { return Ar(doMUL, I(5), Null()); }, "INTEGER NULL"},
      {"NULL * 5", [] { return Ar(doMUL, Null(), I(5)); }, "INTEGER NULL"},
      {"2 * 3 * 4", [] { return Ar(doMUL, I(2), I(3), I(4)); }, "INTEGER 24"},
      {"'a' * 2", [] { return Ar(doMUL, S("a"), I(2)); }, "!30126"},
      {"doCONCAT is no arithmetic", [] { return Ar(doCONCAT, I(1)); }, "!30121"},
  });
}

TEST(ExprValueNodes, MathematicalFunctionsAndTheirTypes) {
  struct M {
    const char* text;
    std::function<TVEXExprNodePtr()> build;
    std::string value;
    TVEXAdvancedFieldType type;
  };
  const std::vector<M> cases = {
      {"ROUND(2.5)", [] { return Ar(doROUND, D(2.5)); }, "INTEGER 2", aftInteger},
      {"ROUND(3.5)", [] { return Ar(doROUND, D(3.5)); }, "INTEGER 4", aftInteger},
      {"ROUND(-2.5)", [] { return Ar(doROUND, D(-2.5)); }, "INTEGER -2", aftInteger},
      {"ROUND(2.25, 1)", [] { return Ar(doROUND, D(2.25), I(1)); }, "DOUBLE 2.2", aftDouble},
      {"ROUND(2.25, 1, HALFUP)", [] { return Ar(doROUND, D(2.25), I(1), I(rwHALFUP)); },
       "DOUBLE 2.3", aftDouble},
      {"ROUND(2.21, 1, RNDUP)", [] { return Ar(doROUND, D(2.21), I(1), I(rwRNDUP)); }, "DOUBLE 2.3",
       aftDouble},
      {"ROUND(-2.25, 1, RNDNEG)", [] { return Ar(doROUND, D(-2.21), I(1), I(rwRNDNEG)); },
       "DOUBLE -2.3", aftDouble},
      {"ROUND(1234.5, -2)", [] { return Ar(doROUND, D(1234.5), I(-2)); }, "DOUBLE 1200", aftDouble},
      {"ROUND(3e9)", [] { return Ar(doROUND, D(3e9)); }, "!EIntOverflow", aftInteger},
      {"CEIL(1.2)", [] { return Ar(doCEIL, D(1.2)); }, "INTEGER 2", aftInteger},
      {"CEIL(3e9)", [] { return Ar(doCEIL, D(3e9)); }, "!EIntOverflow", aftInteger},
      {"FLOOR(-1.2)", [] { return Ar(doFLOOR, D(-1.2)); }, "INTEGER -2", aftInteger},
      {"FLOOR(-3e9)", [] { return Ar(doFLOOR, D(-3e9)); }, "!EIntOverflow", aftInteger},
      {"FLOOR(-2147483648.5)", [] { return Ar(doFLOOR, D(-2147483648.5)); }, "!EIntOverflow",
       aftInteger},
      {"CEIL(-2147483648.5)", [] { return Ar(doCEIL, D(-2147483648.5)); }, "INTEGER -2147483648",
       aftInteger},
      {"SIGN(-0.5)", [] { return Ar(doSIGN, D(-0.5)); }, "INTEGER -1", aftInteger},
      {"SIGN(0)", [] { return Ar(doSIGN, I(0)); }, "INTEGER 0", aftInteger},
      {"SQR(3)", [] { return Ar(doSQR, I(3)); }, "INTEGER 9", aftInteger},
      {"SQR(1.5)", [] { return Ar(doSQR, D(1.5)); }, "DOUBLE 2.25", aftDouble},
      {"SQR(NULL)", [] { return Ar(doSQR, Null()); }, "INTEGER NULL", aftInteger},
      {"POWER(2, 10)", [] { return Ar(doPOWER, I(2), I(10)); }, "DOUBLE 1024", aftDouble},
      {"POWER(2, -2)", [] { return Ar(doPOWER, I(2), I(-2)); }, "DOUBLE 0.25", aftDouble},
      {"POWER(4, 0.5)", [] { return Ar(doPOWER, I(4), D(0.5)); }, "DOUBLE 2", aftDouble},
      {"POWER(-8, 0.5)", [] { return Ar(doPOWER, I(-8), D(0.5)); }, "!EInvalidOp", aftDouble},
      {"POWER(0, -1)", [] { return Ar(doPOWER, I(0), I(-1)); }, "!EZeroDivide", aftDouble},
      {"POWER(10, 400)", [] { return Ar(doPOWER, I(10), I(400)); }, "!EOverflow", aftDouble},
      {"ABS(-3)", [] { return Ar(doABS, I(-3)); }, "INTEGER 3", aftInteger},
      {"ABS(-2.5)", [] { return Ar(doABS, D(-2.5)); }, "DOUBLE 2.5", aftDouble},
      {"ABS(NULL)", [] { return Ar(doABS, Null()); }, "INTEGER NULL", aftInteger},
      {"SQRT(16)", [] { return Ar(doSQRT, I(16)); }, "DOUBLE 4", aftDouble},
      {"SQRT(-1)", [] { return Ar(doSQRT, I(-1)); }, "!EInvalidOp", aftDouble},
      {"SQRT(NULL)", [] { return Ar(doSQRT, Null()); }, "!30016", aftDouble},
      {"ACOS(2)", [] { return Ar(doACOS, I(2)); }, "!EInvalidOp", aftDouble},
      {"ASIN(-2)", [] { return Ar(doASIN, I(-2)); }, "!EInvalidOp", aftDouble},
      {"ACOS(1)", [] { return Ar(doACOS, I(1)); }, "DOUBLE 0", aftDouble},
      {"LOG(0)", [] { return Ar(doLOG, I(0)); }, "!EZeroDivide", aftDouble},
      {"LOG(-1)", [] { return Ar(doLOG, I(-1)); }, "!EInvalidOp", aftDouble},
      {"LOG(1)", [] { return Ar(doLOG, I(1)); }, "DOUBLE 0", aftDouble},
      {"EXP(0)", [] { return Ar(doEXP, I(0)); }, "DOUBLE 1", aftDouble},
      {"EXP(1000)", [] { return Ar(doEXP, I(1000)); }, "!EOverflow", aftDouble},
      {"COS(0)", [] { return Ar(doCOS, I(0)); }, "DOUBLE 1", aftDouble},
      {"SIN(0)", [] { return Ar(doSIN, I(0)); }, "DOUBLE 0", aftDouble},
      {"ATAN(0)", [] { return Ar(doATAN, I(0)); }, "DOUBLE 0", aftDouble},
      {"RAND(0)", [] { return Ar(doRAND, I(0)); }, "INTEGER 0", aftInteger},
      {"RAND(-5)", [] { return Ar(doRAND, I(-5)); }, "INTEGER 0", aftInteger},
  };
  for (const M& c : cases) {
    TVEXExprNodePtr n = c.build();
    EXPECT_EQ(Eval(*n), c.value) << c.text;
    EXPECT_EQ(n->GetDataType(), c.type) << c.text;
  }
}

TEST(ExprValueNodes, RandDrawsFromTheClocksSeededGenerator) {
  auto draw = [](uint64_t seed) {
    testsupport::FakeClockScope clock(0, seed);
    TVEXExprNodePtr n = Ar(doRAND, I(1000));
    std::vector<int32_t> seq;
    for (int i = 0; i < 20; ++i) seq.push_back(n->GetDataValue().AsInteger());
    return seq;
  };
  const std::vector<int32_t> a = draw(7);
  EXPECT_EQ(a, draw(7));
  EXPECT_NE(a, draw(8));
  for (int32_t r : a) EXPECT_TRUE(r >= 0 && r < 1000) << r;
}

TEST(ExprValueNodes, StringFunctions) {
  RunCases({
      {"LENGTH(NULL)", [] { return Str(doLENGTH, Null(bftVarchar)); }, "INTEGER 0"},
      {"LENGTH('abc')", [] { return Str(doLENGTH, S("abc")); }, "INTEGER 3"},
      {"LENGTH(wide 'abc')", [] { return Str(doLENGTH, W(u"abc")); }, "INTEGER 3"},
      {"LENGTH(12345)", [] { return Str(doLENGTH, I(12345)); }, "INTEGER 5"},
      {"POSITION('b' IN 'abc')", [] { return Str(doPOS, S("b"), S("abc")); }, "INTEGER 2"},
      {"POSITION('x' IN 'abc')", [] { return Str(doPOS, S("x"), S("abc")); }, "INTEGER 0"},
      {"POSITION(NULL IN 'abc')", [] { return Str(doPOS, Null(bftVarchar), S("abc")); },
       "INTEGER 0"},
      {"POSITION('a' IN NULL)", [] { return Str(doPOS, S("a"), Null(bftVarchar)); }, "INTEGER 0"},
      {"POSITION(wide 'c' IN 'abc')", [] { return Str(doPOS, W(u"c"), S("abc")); }, "INTEGER 3"},
      {"SUBSTRING('abcdef', 3)", [] { return Str(doSUBSTRING, S("abcdef"), I(3)); },
       "VARCHAR cdef"},
      {"SUBSTRING('abcdef', 3, 2)", [] { return Str(doSUBSTRING, S("abcdef"), I(3), I(2)); },
       "VARCHAR cd"},
      {"SUBSTRING('abc', 0, 2)", [] { return Str(doSUBSTRING, S("abc"), I(0), I(2)); },
       "VARCHAR ab"},
      {"SUBSTRING('abc', -5, 9)", [] { return Str(doSUBSTRING, S("abc"), I(-5), I(9)); },
       "VARCHAR abc"},
      {"SUBSTRING('abc', 4) is empty", [] { return Str(doSUBSTRING, S("abc"), I(4)); },
       "VARCHAR NULL"},
      {"SUBSTRING('abc', 2, 0) is empty", [] { return Str(doSUBSTRING, S("abc"), I(2), I(0)); },
       "VARCHAR NULL"},
      {"SUBSTRING(12345, 2, 3)", [] { return Str(doSUBSTRING, I(12345), I(2), I(3)); },
       "VARCHAR 234"},
      {"SUBSTRING(NULL, 1)", [] { return Str(doSUBSTRING, Null(bftVarchar), I(1)); },
       "VARCHAR NULL"},
      {"SUBSTRING('abc', NULL)", [] { return Str(doSUBSTRING, S("abc"), Null()); }, "!30016"},
      {"SUBSTRING('abc', 1, NULL)", [] { return Str(doSUBSTRING, S("abc"), I(1), Null()); },
       "!30016"},
      {"UPPER(123) gives text", [] { return Str(doUPPER, I(123)); }, "VARCHAR 123"},
      {"UPPER(NULL)", [] { return Str(doUPPER, Null(bftVarchar)); }, "VARCHAR NULL"},
      {"LOWER(wide 'ÄB')", [] { return Str(doLOWER, W(u"\u00c4B")); },
       "WVARCHAR \xC3\xA4"
       "b"},
      {"TRIM(tab + ' a ')", [] { return Str(doTRIM, S("\t a \n")); }, "VARCHAR a"},
      {"LTRIM(' a ')", [] { return Str(doLTRIM, S(" a ")); }, "VARCHAR a "},
      {"RTRIM(wide ' a ')", [] { return Str(doRTRIM, W(u" a ")); }, "WVARCHAR  a"},
      {"'a' || NULL || 'b'", [] { return Str(doCONCAT, S("a"), Null(bftVarchar), S("b")); },
       "VARCHAR ab"},
      {"NULL || 'b'", [] { return Str(doCONCAT, Null(bftVarchar), S("b")); }, "VARCHAR b"},
      {"'n' || 5", [] { return Str(doCONCAT, S("n"), I(5)); }, "VARCHAR n5"},
      {"doSUM is no string function", [] { return Str(doSUM, S("a")); }, "!30131"},
  });
}

// A node of a given type, for the type and size rules.
TVEXExprNodePtr Typed(TVEXAdvancedFieldType t, int32_t size = 0) {
  return std::make_unique<Probe>(t, size);
}

TEST(ExprValueNodes, TypeFoldAndSizeRule) {
  struct R {
    const char* text;
    std::function<TVEXExprNodePtr()> build;
    std::string type;  // the advanced type's number, or "!code"
    std::string size;
  };
  auto typeOf = [](TVEXExprNode& n) {
    return Outcome([&] { return std::to_string(n.GetDataType()); });
  };
  auto sizeOf = [](TVEXExprNode& n) {
    return Outcome([&] { return std::to_string(n.GetDataSize()); });
  };
  auto t = [](TVEXAdvancedFieldType x) { return std::to_string(x); };
  const std::vector<R> cases = {
      {"int + int", [] { return Ar(doADD, Typed(aftInteger), Typed(aftInteger)); }, t(aftInteger),
       "0"},
      {"int + double", [] { return Ar(doADD, Typed(aftInteger), Typed(aftDouble)); }, t(aftDouble),
       "0"},
      {"smallint + int", [] { return Ar(doADD, Typed(aftSmallint), Typed(aftInteger)); },
       t(aftInteger), "0"},
      {"string(10) + string(20)",
       [] { return Ar(doADD, Typed(aftString, 10), Typed(aftString, 20)); }, t(aftString), "30"},
      {"string(10) || string(20)",
       [] { return Str(doCONCAT, Typed(aftString, 10), Typed(aftString, 20)); }, t(aftString),
       "30"},
      // + inserts no casts: the integer adds its own size, 0.
      {"string(4) + int folds to the string",
       [] { return Ar(doADD, Typed(aftString, 4), Typed(aftInteger)); }, t(aftString), "4"},
      {"string with BLOB", [] { return Ar(doADD, Typed(aftString, 4), Typed(aftBlob)); }, "!30283",
       "!30283"},
      {"string * string", [] { return Ar(doMUL, Typed(aftString, 4), Typed(aftString, 5)); },
       t(aftString), "0"},
      {"no children", [] { return Ar(doADD); }, "!30283", "!30283"},
      {"sizes past 32 bits",
       [] { return Str(doCONCAT, Typed(aftString, INT32_MAX), Typed(aftString, 1)); }, t(aftString),
       "!EIntOverflow"},
      {"UPPER(string(7))", [] { return Str(doUPPER, Typed(aftString, 7)); }, t(aftString), "7"},
      {"UPPER(integer)", [] { return Str(doUPPER, Typed(aftInteger)); }, t(aftInteger), "0"},
      {"TRIM(memo)", [] { return Str(doTRIM, Typed(aftMemo)); }, t(aftString), "0"},
      {"LOWER(wide memo)", [] { return Str(doLOWER, Typed(aftWideMemo)); }, t(aftWideString), "0"},
      {"LENGTH(string)", [] { return Str(doLENGTH, Typed(aftString, 9)); }, t(aftInteger), "0"},
      {"SUBSTRING(string(8), 1)", [] { return Str(doSUBSTRING, Typed(aftString, 8), I(1)); },
       t(aftString), "8"},
      {"SUBSTRING(string(0), 1, 5)",
       [] { return Str(doSUBSTRING, Typed(aftString, 0), I(1), I(5)); }, t(aftString), "5"},
      {"SUBSTRING(string(0), 1)", [] { return Str(doSUBSTRING, Typed(aftString, 0), I(1)); },
       t(aftString), "4096"},
      {"constant 'abc'", [] { return S("abc"); }, t(aftString), "3"},
      {"CAST('abcdef' AS VARCHAR(3))", [] { return Cast(S("abcdef"), aftString, I(3)); },
       t(aftString), "3"},
      {"CAST(12 AS VARCHAR)", [] { return Cast(I(12), aftString); }, t(aftString), "11"},
      {"CAST(smallint AS CHAR)", [] { return Cast(Typed(aftSmallint), aftChar); }, t(aftChar), "6"},
      {"CAST(largeint AS VARCHAR)", [] { return Cast(Typed(aftLargeint), aftString); },
       t(aftString), "20"},
      {"CAST(date AS VARCHAR)", [] { return Cast(Typed(aftDate), aftString); }, t(aftString), "26"},
      {"CAST(memo AS VARCHAR)", [] { return Cast(Typed(aftMemo), aftString); }, t(aftString),
       "4096"},
      {"CAST(guid AS VARCHAR)", [] { return Cast(Typed(aftGuid), aftString); }, t(aftString), "38"},
      {"CAST(bytes(12) AS VARCHAR)", [] { return Cast(Typed(aftBytes, 12), aftString); },
       t(aftString), "12"},
      {"CAST(currency AS VARCHAR)", [] { return Cast(Typed(aftCurrency), aftString); },
       t(aftString), "21"},
      {"CAST(unknown AS VARCHAR)", [] { return Cast(Typed(aftUnknown), aftString); }, t(aftString),
       "!30466"},
      {"CAST(x AS INTEGER)", [] { return Cast(S("5"), aftInteger); }, t(aftInteger), "0"},
      {"TOSTRING has its format's width",
       [] { return std::make_unique<TVEXExprNodeDateFunction>(doTOSTRING, D(0), "YYYY-MM-DD"); },
       t(aftString), "10"},
  };
  for (const R& c : cases) {
    TVEXExprNodePtr n = c.build();
    EXPECT_EQ(typeOf(*n), c.type) << c.text;
    EXPECT_EQ(sizeOf(*n), c.size) << c.text;
    EXPECT_EQ(n->GetPrecision(), 0) << c.text;
  }
}

TEST(ExprValueNodes, CastConvertsAndCutsText) {
  RunCases({
      {"CAST('abcdef' AS VARCHAR(3))", [] { return Cast(S("abcdef"), aftString, I(3)); },
       "VARCHAR abc"},
      {"CAST(wide 'abcdef' AS NVARCHAR(2))", [] { return Cast(W(u"abcdef"), aftWideString, I(2)); },
       "WVARCHAR ab"},
      {"CAST('ab' AS VARCHAR(3))", [] { return Cast(S("ab"), aftString, I(3)); }, "VARCHAR ab"},
      {"CAST(12 AS VARCHAR)", [] { return Cast(I(12), aftString); }, "VARCHAR 12"},
      {"CAST('42' AS INTEGER)", [] { return Cast(S("42"), aftInteger); }, "INTEGER 42"},
      {"CAST('x' AS INTEGER)", [] { return Cast(S("x"), aftInteger); }, "!30051"},
      {"CAST(NULL AS INTEGER) retypes", [] { return Cast(Null(bftVarchar), aftInteger); },
       "INTEGER NULL"},
  });
  TVEXExprNodePtr big = Cast(S(std::string(5000, 'x')), aftString);
  EXPECT_EQ(big->GetDataValue().StrLen(), 4096);
}

TEST(ExprValueNodes, ConcatSizeCastsOperandsToTheCommonType) {
  TVEXExprNodePtr n = Str(doCONCAT, S("n"), I(5), Cast(D(1.5), aftString, I(4)));
  EXPECT_EQ(n->GetDataSize(), 1 + 11 + 4);
  EXPECT_NE(dynamic_cast<TVEXExprNodeCast*>(n->Children[1].get()), nullptr);
  EXPECT_EQ(dynamic_cast<TVEXExprNodeConst*>(n->Children[0].get())->Value.AsAnsiString(), "n");
  EXPECT_EQ(Show(n->Children[1]->GetDataValue()), "VARCHAR 5");
  EXPECT_EQ(Eval(*n), "VARCHAR n51.5");
}

TVEXExprNodePtr SimpleCase(TVEXExprNodePtr input,
                           std::vector<std::pair<TVEXExprNodePtr, TVEXExprNodePtr>> arms,
                           TVEXExprNodePtr otherwise = nullptr) {
  auto c = TVEXExprNodeCase::CreateSimpleCase(std::move(input));
  for (auto& [w, t] : arms) {
    c->AddWhenExpression(std::move(w));
    c->AddResultExpression(std::move(t));
  }
  if (otherwise) c->SetElseResultExpression(std::move(otherwise));
  return c;
}

TVEXExprNodePtr SearchedCase(std::vector<std::pair<TVEXExprNodePtr, TVEXExprNodePtr>> arms,
                             TVEXExprNodePtr otherwise = nullptr) {
  auto c = TVEXExprNodeCase::CreateSearchedCase();
  for (auto& [w, t] : arms) {
    c->AddWhenExpression(std::move(w));
    c->AddResultExpression(std::move(t));
  }
  if (otherwise) c->SetElseResultExpression(std::move(otherwise));
  return c;
}

template <class... K>
std::vector<std::pair<TVEXExprNodePtr, TVEXExprNodePtr>> Arms(K... k) {
  std::vector<TVEXExprNodePtr> flat;
  (flat.push_back(std::move(k)), ...);
  std::vector<std::pair<TVEXExprNodePtr, TVEXExprNodePtr>> out;
  for (size_t i = 0; i + 1 < flat.size(); i += 2)
    out.emplace_back(std::move(flat[i]), std::move(flat[i + 1]));
  return out;
}

TVEXExprNodePtr Coalesce(std::vector<TVEXExprNodePtr> args) {
  return TVEXExprNodeCase::CreateCoalesce(std::move(args));
}
template <class... K>
std::vector<TVEXExprNodePtr> List(K... k) {
  std::vector<TVEXExprNodePtr> v;
  (v.push_back(std::move(k)), ...);
  return v;
}

TVEXExprNodePtr LikeNull() {
  return With(std::make_unique<TVEXExprNodeBoolean>(doLIKE, false, false, ""), S("x"),
              Null(bftVarchar));
}

TEST(ExprValueNodes, CaseAndCoalesce) {
  RunCases({
      {"CASE 'a' WHEN 'A' THEN 1 END ignores case",
       [] { return SimpleCase(S("a"), Arms(S("A"), I(1))); }, "INTEGER 1"},
      {"CASE NULL WHEN NULL THEN 1 END", [] { return SimpleCase(Null(), Arms(Null(), I(1))); },
       "INTEGER 1"},
      {"CASE 3 WHEN 1 THEN 'a' WHEN 3 THEN 'c' ELSE 'z' END",
       [] { return SimpleCase(I(3), Arms(I(1), S("a"), I(3), S("c")), S("z")); }, "VARCHAR c"},
      {"CASE 4 WHEN 1 THEN 'a' ELSE 'z' END",
       [] { return SimpleCase(I(4), Arms(I(1), S("a")), S("z")); }, "VARCHAR z"},
      {"CASE 4 WHEN 1 THEN 'a' END", [] { return SimpleCase(I(4), Arms(I(1), S("a"))); },
       "UNKNOWN NULL"},
      {"CASE WHEN FALSE THEN 1 WHEN TRUE THEN 2 END",
       [] { return SearchedCase(Arms(B(false), I(1), B(true), I(2))); }, "INTEGER 2"},
      {"CASE WHEN 'x' LIKE NULL THEN 1 ELSE 2 END: a null WHEN is not true",
       [] { return SearchedCase(Arms(LikeNull(), I(1)), I(2)); }, "INTEGER 2"},
      {"CASE WHEN NULL THEN 1 END", [] { return SearchedCase(Arms(Null(bftLogical), I(1))); },
       "UNKNOWN NULL"},
      {"COALESCE(NULL, NULL, 3)", [] { return Coalesce(List(Null(), Null(), I(3))); }, "INTEGER 3"},
      {"COALESCE(NULL)", [] { return Coalesce(List(Null())); }, "INTEGER NULL"},
      {"COALESCE('a', 1)", [] { return Coalesce(List(S("a"), I(1))); }, "VARCHAR a"},
  });
}

TEST(ExprValueNodes, CaseSizeCastsBranchesToTheCommonType) {
  // CASE WHEN c THEN 1 ELSE 2.5 END
  TVEXExprNodePtr n = SearchedCase(Arms(B(true), I(1)), D(2.5));
  EXPECT_EQ(n->GetDataType(), aftDouble);
  EXPECT_EQ(Eval(*n), "INTEGER 1");  // before the size is asked each branch has its own type
  EXPECT_EQ(n->GetDataSize(), 0);
  EXPECT_EQ(Eval(*n), "DOUBLE 1");
  auto& c = static_cast<TVEXExprNodeCase&>(*n);
  EXPECT_NE(dynamic_cast<TVEXExprNodeCast*>(c.FResultExpressions[0]), nullptr);
  EXPECT_EQ(c.FElseResultExpression, c.Children.back().get());  // the ELSE had the type already

  // CASE x WHEN 1 THEN 'abc' ELSE 12 END: the text size of the integer wins.
  TVEXExprNodePtr s = SimpleCase(I(1), Arms(I(2), S("abc")), I(12));
  EXPECT_EQ(s->GetDataType(), aftString);
  EXPECT_EQ(s->GetDataSize(), 11);
  EXPECT_EQ(Eval(*s), "VARCHAR 12");

  // COALESCE(NULL, 'ab', 7): every argument delivers text from then on.
  TVEXExprNodePtr k = Coalesce(List(Null(bftVarchar), S("ab"), I(7)));
  EXPECT_EQ(k->GetDataSize(), 11);
  auto& co = static_cast<TVEXExprNodeCase&>(*k);
  EXPECT_EQ(Show(co.FCoalesceNodes[2]->GetDataValue()), "VARCHAR 7");
  EXPECT_EQ(co.FCoalesceNodes[2], co.Children[2].get());

  // An incompatible mix is not an error for CASE: its type is aftUnknown.
  TVEXExprNodePtr bad = SearchedCase(Arms(B(true), S("a")), Blob("b"));
  EXPECT_EQ(bad->GetDataType(), aftUnknown);
}

// Local time at a fixed instant; the expected values come from the same
// clock, so the zone the tests run in does not matter.
struct FixedTime {
  explicit FixedTime(std::chrono::system_clock::time_point t) {
    rtl::SetTimeSource([t] { return t; });
  }
  ~FixedTime() { rtl::SetTimeSource({}); }
};

TEST(ExprValueNodes, ClockFunctionsReadTheSetClock) {
  using namespace std::chrono;
  FixedTime clock(system_clock::time_point(seconds(1700000000) + milliseconds(250)));
  const double now = rtl::Now();
  auto dateFn = [](TVEXDataOperator op) { return std::make_unique<TVEXExprNodeDateFunction>(op); };
  auto sys = dateFn(doSYSDATE);
  EXPECT_EQ(sys->GetDataValue().DataType(), bftDateTime);
  EXPECT_NEAR(sys->GetDataValue().AsTDateTime(), now, 0.5 / rtl::MSecsPerDay);
  EXPECT_EQ(sys->GetDataType(), aftDateTime);
  auto date = dateFn(doCURRENT_DATE);
  EXPECT_EQ(date->GetDataValue().DataType(), bftDate);
  EXPECT_EQ(date->GetDataValue().AsTDate(), rtl::DateOf(now));
  EXPECT_EQ(date->GetDataType(), aftDate);
  auto time = dateFn(doCURRENT_TIME);
  EXPECT_EQ(time->GetDataValue().DataType(), bftTime);
  EXPECT_NEAR(time->GetDataValue().AsTTime(), rtl::TimeOf(now), 0.5 / rtl::MSecsPerDay);
  EXPECT_EQ(time->GetDataType(), aftTime);
  auto other = dateFn(doCAST);
  EXPECT_EQ(Eval(*other), "!30130");
  EXPECT_THAT([&] { other->GetDataType(); }, RaisesNativeError(30287));
}

TEST(ExprValueNodes, ToDateTypeFollowsEachRowsText) {
  auto n = std::make_unique<TVEXExprNodeDateFunction>(doTODATE, nullptr, "YYYY-MM-DD");
  auto setText = [&](TVEXExprNodePtr t) { n->Children[0] = std::move(t); };
  setText(S("2016-09-06"));
  EXPECT_EQ(n->GetDataValue().DataType(), bftDate);
  EXPECT_EQ(n->GetDataType(), aftDate);
  EXPECT_EQ(n->GetDataValue().AsTDate(), rtl::EncodeDate(2016, 9, 6));
  setText(Null(bftVarchar));
  EXPECT_EQ(Eval(*n), "TIMESTAMP NULL");

  auto dt = std::make_unique<TVEXExprNodeDateFunction>(doTODATE, S("2016-09-06 00:00:00"),
                                                       "YYYY-MM-DD HH24:NN:SS");
  EXPECT_EQ(dt->GetDataType(), aftDateTime);
  EXPECT_EQ(dt->GetDataValue().DataType(), bftDate);  // a midnight moment is a date
  dt->Children[0] = S("2016-09-06 10:20:30");
  EXPECT_EQ(dt->GetDataValue().DataType(), bftDateTime);  // the next row is a date-time again
  EXPECT_EQ(dt->GetDataValue().AsTDateTime(), rtl::EncodeDateTime(2016, 9, 6, 10, 20, 30, 0));

  auto t = std::make_unique<TVEXExprNodeDateFunction>(doTODATE, S("10:20"), "HH24:NN");
  EXPECT_EQ(t->GetDataValue().DataType(), bftTime);
  EXPECT_EQ(t->GetDataValue().AsTTime(), rtl::EncodeTime(10, 20, 0, 0));
}

TEST(ExprValueNodes, ToStringAndExtract) {
  auto ts = std::make_unique<TVEXExprNodeDateFunction>(
      doTOSTRING, Const([](TVEXVariant& v) { v.SetAsTDate(rtl::EncodeDate(2016, 9, 6)); }),
      "DD.MM.YYYY");
  EXPECT_EQ(Eval(*ts), "VARCHAR 06.09.2016");
  ts->Children[0] = Null(bftDate);
  EXPECT_EQ(Eval(*ts), "VARCHAR NULL");

  const double moment = rtl::EncodeDateTime(2016, 9, 6, 10, 20, 30, 999);
  struct E {
    TVEXDateTimeExtractField field;
    std::string expected;
  };
  for (const E& e : std::vector<E>{{dtefYear, "2016"},
                                   {dtefMonth, "9"},
                                   {dtefDay, "6"},
                                   {dtefHour, "10"},
                                   {dtefMinute, "20"},
                                   {dtefSecond, "30"}}) {
    auto x = std::make_unique<TVEXExprNodeDateFunction>(
        doEXTRACT, e.field, Const([&](TVEXVariant& v) { v.SetAsTDateTime(moment); }));
    const TVEXVariant& v = x->GetDataValue();
    EXPECT_EQ(v.DataType(), bftUnsignedInt16);
    EXPECT_EQ(std::to_string(v.AsWord()), e.expected) << int(e.field);
    EXPECT_EQ(x->GetDataType(), aftWord);
  }
  auto none = std::make_unique<TVEXExprNodeDateFunction>(doEXTRACT, dtefYear, Null(bftDate));
  EXPECT_TRUE(none->GetDataValue().IsNull());
}

}  // namespace
}  // namespace vex
