#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ExprDump.h"
#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "sql/expression/VEXExprParser.h"
#include "sql/expression/VEXExpression.h"
#include "sql/VEXLexer.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using exprtest::Dump;

std::u16string U(const std::string& s) { return rtl::Utf8ToUtf16(s); }

// The message without the native-error suffix, or "!" and the code's absence.
std::string Text(const EVEXException& e) {
  std::string m = e.what();
  const size_t at = m.find(" - Native error: ");
  return at == std::string::npos ? m : m.substr(0, at);
}

// A dataset filter (no cursor, so columns stay unbound).
std::string Filter(const std::string& text, bool partialKey = false) {
  TVEXExpression e;
  e.ParseForFilter(nullptr, U(text), false, partialKey);
  return Dump(e);
}

// An SQL condition or value over a lexer of the test's own; Rest receives the
// text of the token the parse stopped at ("" at the end).
std::string Sql(const std::string& text, bool condition, std::string* rest = nullptr,
                const TVEXSQLParams* params = nullptr) {
  TVEXLexer lexer(U(text), params, false);
  lexer.GetNextCommand();
  TVEXExpression e;
  if (condition)
    e.ParseForBooleanExpression(nullptr, lexer);
  else
    e.ParseForValueExpression(nullptr, lexer);
  if (rest) {
    TToken t;
    *rest = lexer.GetCurrentToken(t) ? rtl::Utf16ToUtf8(t.Text) : "";
  }
  return Dump(e);
}

std::string Value(const std::string& text) { return Sql(text, false); }

struct ShapeCase {
  std::string text;
  std::string tree;
};

void ExpectFilters(const std::vector<ShapeCase>& cases, bool partialKey = false) {
  for (const ShapeCase& c : cases) {
    std::string got;
    try {
      got = Filter(c.text, partialKey);
    } catch (const EVEXException& e) {
      got = "!" + Text(e);
    }
    EXPECT_EQ(got, c.tree) << c.text;
  }
}

void ExpectValues(const std::vector<ShapeCase>& cases) {
  for (const ShapeCase& c : cases) {
    std::string got;
    try {
      got = Value(c.text);
    } catch (const EVEXException& e) {
      got = "!" + Text(e);
    }
    EXPECT_EQ(got, c.tree) << c.text;
  }
}

TEST(ExprParser, BooleanLevelsChainOrToTheLeftAndFlattenAnd) {
  ExpectFilters({
      {"x = 1 OR y = 2 OR z = 3", "(OR (OR (=3 x 1) (=3 y 2)) (=3 z 3))"},
      {"x = 1 AND y = 2 AND z = 3", "(AND (=3 x 1) (=3 y 2) (=3 z 3))"},
      {"a AND (b AND (c AND d))", "(AND a b c d)"},
      {"(x = 1 OR y = 2) AND z = 3", "(AND (OR (=3 x 1) (=3 y 2)) (=3 z 3))"},
      {"x = 1 OR y = 2 AND z = 3", "(OR (=3 x 1) (AND (=3 y 2) (=3 z 3)))"},
      {"NOT x = 1", "(NOT (=3 x 1))"},
      {"NOT (a OR b)", "(NOT (OR a b))"},
      {"x IS TRUE", "x"},
      {"x IS NOT TRUE", "(NOT x)"},
      {"x IS FALSE", "(NOT x)"},
      {"x IS NOT FALSE", "x"},
      {"x IS UNKNOWN", "(ISNULL x)"},
      {"x IS NOT UNKNOWN", "(ISNOTNULL x)"},
      {"x IS MAYBE",
       "!Token 'TRUE, FALSE or UNKNOWN' expected, but 'MAYBE' found at line 1, "
       "column 6"},
      {"NOT NOT x", "!Boolean expression expected, but 'NOT' found at line 1, column 1"},
  });
}

TEST(ExprParser, ComparisonRewritesAndTheThreeValuedFlag) {
  ExpectFilters({
      // A column against a text, date-time or null constant is two-valued.
      {"x = 1", "(=3 x 1)"},
      {"Name = 'Jo'", "(=2 Name 'Jo')"},
      {"d >= DATE '2000-01-01'", "(>=2 d DATE:36526)"},
      {"Name = NULL", "(=2 Name NULL:INTEGER)"},
      {"x < y", "(<3 x y)"},
      {"1 = NULL", "(=3 1 NULL:INTEGER)"},
      {"'a' = NULL", "(=2 'a' NULL:INTEGER)"},
      {"'a' = x + 1", "(=2 'a' (+ x 1))"},
      // The empty literal is a null text: a null test.
      {"Name = ''", "(ISNULL Name)"},
      {"'' <> Name", "(ISNOTNULL Name)"},
      {"Name = 'Jo*'", "(=2 Name 'Jo*')"},
      // LIKE 'prefix%' is an equality on the prefix that an index can serve.
      {"Name LIKE 'Jo%'", "(=2P Name 'Jo')"},
      {"Name NOT LIKE 'Jo%'", "(<>2P Name 'Jo')"},
      {"Name LIKE '%o'", "(LIKE Name '%o')"},
      {"Name LIKE 'J_%'", "(LIKE Name 'J_%')"},
      {"Name LIKE 'J%o%'", "(LIKE Name 'J%o%')"},
      {"Name LIKE 'Jo%' ESCAPE '\\'", "(LIKE[\\] Name 'Jo%')"},
      {"Name NOT LIKE x", "(NOTLIKE Name x)"},
  });
  // Partial keys of a dataset filter.
  ExpectFilters(
      {{"Name = 'Jo*'", "(=2P Name 'Jo')"}, {"Name = '*'", "(ISNULL Name)"}, {"x = 5", "(=3 x 5)"}},
      true);
}

TEST(ExprParser, Predicates) {
  ExpectFilters({
      {"x IN (1, 2, 3)", "(IN x 1 2 3)"},
      {"x IN (1 2 3)", "(IN x 1 2 3)"},
      {"x NOT IN ('a', y)", "(NOTIN x 'a' y)"},
      {"x BETWEEN 1 AND 5", "(BETWEEN x 1 5)"},
      {"x NOT BETWEEN 1 AND 5 AND y = 2", "(AND (NOTBETWEEN x 1 5) (=3 y 2))"},
      {"x IS NULL", "(ISNULL x)"},
      {"x IS NOT NULL OR y", "(OR (ISNOTNULL x) y)"},
      {"TRUE", "TRUE"},
      {"flag", "flag"},
      // A computed operand holds a null at parse time: two-valued against text.
      {"UPPER(Name) = 'JO'", "(=2 (UPPER Name) 'JO')"},
      // A subquery would need the filter's lexer after the parse.
      {"x IN (SELECT a FROM t)",
       "!Subquery is not allowed in a filter or default value, 'SELECT' found at line 1, "
       "column 7"},
      {"EXISTS (SELECT a FROM t)",
       "!Subquery is not allowed in a filter or default value, 'SELECT' found at line 1, "
       "column 9"},
      {"x = ANY (SELECT a FROM t)",
       "!Subquery is not allowed in a filter or default value, 'SELECT' found at line 1, "
       "column 10"},
  });
  // A leading truth value is the whole condition; the rest is the caller's.
  std::string rest;
  EXPECT_EQ(Sql("TRUE = x", true, &rest), "TRUE");
  EXPECT_EQ(rest, "=");
  EXPECT_EQ(Sql("x = 1 ORDER BY x", true, &rest), "(=3 x 1)");
  EXPECT_EQ(rest, "ORDER");
  // A Boolean parameter is a truth value; others are values.
  TVEXSQLParams params;
  params.AddCreated().SetAsBoolean(true);
  params.AddCreated().SetAsInteger(7);
  EXPECT_EQ(Sql("? = x", true, &rest, &params), "TRUE");
  EXPECT_EQ(Sql("x = ?", true, &rest, &params), "(=3 x TRUE)");
}

TEST(ExprParser, ValueLevelsLiteralsAndFunctions) {
  ExpectValues({
      {"a - b + c", "(+ a (- b) c)"},
      {"a - b * c", "(+ a (* (- b) c))"},
      {"a * b / c", "(/ (* a b) c)"},
      {"-(a + 1)", "(- (+ a 1))"},
      {"'a' || 'b' || 'c'", "(|| 'a' 'b' 'c')"},
      {"'a' + 'b'", "(|| 'a' 'b')"},
      {"1 + 2", "(+ 1 2)"},
      {"x || 1 + 2", "(|| x 1 2)"},
      {"t.Name", "t.Name"},
      {"[My Col]", "My Col"},
      {"2147483646", "2147483646"},
      {"2147483647", "2147483647L"},
      {"9000000000", "9000000000L"},
      {"1.5", "1.5D"},
      {"'text'", "'text'"},
      {"N", "N"},
      {"NULL", "NULL:INTEGER"},
      {"TRUE", "TRUE"},
      {"DATE '2000-01-01'", "DATE:36526"},
      {"TIME '12:30:00'", "TIME:45000s"},
      {"TIMESTAMP '2000-01-01 12:30:00'", "TIMESTAMP:36526+45000s"},
      {"SYSDATE - 1", "(+ (SYSDATE) (- 1))"},
      {"DATE '2000-01-01' + 7", "(+ DATE:36526 (+ 7))"},
      {"NOW", "(SYSDATE)"},
      {"CURRENT_TIMESTAMP", "(SYSDATE)"},
      {"CURRENT_DATE", "(CURRENT_DATE)"},
      {"CURRENT_TIME", "(CURRENT_TIME)"},
      {"CAST(NULL AS INTEGER)", "(CAST:INTEGER NULL:INTEGER)"},
      {"CAST(x AS VARCHAR(20))", "(CAST:STRING x 20)"},
      {"CAST(x, DATE)", "(CAST:DATE x)"},
      {"COUNT(*)", "(COUNT(*))"},
      {"COUNT(x)", "(COUNT x)"},
      {"SUM(DISTINCT x)", "(SUM:DISTINCT x)"},
      {"MAX DISTINCT (x)", "(MAX:DISTINCT x)"},
      {"AVG(x) + MIN(y) + MAX(z)", "(+ (AVG x) (MIN y) (MAX z))"},
      {"POSITION('a' IN s)", "(POS 'a' s)"},
      {"POS('a', s)", "(POS 'a' s)"},
      {"EXTRACT(MONTH FROM d)", "(EXTRACT:1 d)"},
      {"LENGTH(s)", "(LENGTH s)"},
      {"ROWNUM", "(ROWNUM)"},
      {"ABS(x) + SQRT(4)", "(+ (ABS x) (SQRT 4))"},
      {"POWER(x, 2)", "(POWER x 2)"},
      {"ROUND(x)", "(ROUND x)"},
      {"ROUND(x, 2, HALFUP)", "(ROUND x 2 287)"},
      {"UPPER(s) || LOWER(s)", "(|| (UPPER s) (LOWER s))"},
      {"TRIM(s)", "(TRIM s)"},
      {"SUBSTRING(s FROM 2 FOR 3)", "(SUBSTRING s 2 3)"},
      {"SUBSTRING(s, 2)", "(SUBSTRING s 2)"},
      {"TOSTRING(d, 'yyyy')", "(TOSTRING d)"},
      {"TODATE('2000', 'yyyy')", "(TODATE '2000')"},
      {"COALESCE(a, b c)", "(COALESCE a b c)"},
      {"CASE WHEN x = 1 THEN 'a' ELSE 'b' END", "(CASE:SEARCHED:ELSE (=3 x 1) 'a' 'b')"},
      {"CASE x WHEN 1 THEN 'a' WHEN 2 THEN 'b' END", "(CASE:SIMPLE x 1 'a' 2 'b')"},
      {"MIMETOBIN('QUJD')", "(MIMETOBIN 'QUJD')"},
      {"((('a')))", "'a'"},
      // Not a value: a function name that is no function, a comparison.
      {"FOO(1)", "nil"},
      {"= 1", "nil"},
  });
}

struct ErrorCase {
  std::string text;
  bool condition;
  int32_t code;
  std::string message;
};

// Every error of the grammar, with its text and the position it names.
TEST(ExprParser, EveryGrammarErrorWithTextAndPosition) {
  const std::string T = "Token '";
  const std::vector<ErrorCase> cases = {
      {"x IS MAYBE", true, 30067,
       "Token 'TRUE, FALSE or UNKNOWN' expected, but 'MAYBE' found at line 1, column 6"},
      {"x = 1 AND =", true, 30069,
       "Boolean expression expected, but '=' found at line 1, column 11"},
      {"x = 1 OR\n =", true, 30070,
       "Boolean expression expected, but '=' found at line 2, column 2"},
      {"x LIKE 'a' ESCAPE 'ab'", true, 20294,
       "Invalid escape character length (should be a single character) at line 1, column 19"},
      {"COUNT(* x)", false, 30073, "Token ')' expected, but 'x' found at line 1, column 9"},
      {"SUM x", false, 30074, "Token '(' expected, but 'x' found at line 1, column 5"},
      {"SUM(x y)", false, 30075, "Token ')' expected, but 'y' found at line 1, column 7"},
      {"AVG()", false, 30102, "Argument expected for function 'AVG' at line 1, column 5"},
      {"CAST(x AS BLOB)", false, 30077, "Cannot convert an expression to specified type: 'BLOB'"},
      {"CAST(x AS FOO)", false, 30077, "Cannot convert an expression to specified type: 'Unknown'"},
      {"CAST(x AS VARCHAR(20 x))", false, 30465,
       "Token ')' expected, but 'x' found at line 1, column 22"},
      {"CAST(x AS INTEGER x)", false, 30076,
       "Token ')' expected, but 'x' found at line 1, column 19"},
      {"POSITION x", false, 30078, "Token '(' expected, but 'x' found at line 1, column 10"},
      {"POSITION(=)", false, 30079, "Argument expected for function 'POS' at line 1, column 10"},
      {"POSITION('a' s)", false, 30080,
       "Token ',' or 'IN' expected, but 's' found at line 1, column 14"},
      {"POSITION('a' IN =)", false, 30081,
       "Argument expected for function 'POS' at line 1, column 17"},
      {"POSITION('a' IN s x)", false, 30082,
       "Token ')' expected, but 'x' found at line 1, column 19"},
      {"EXTRACT x", false, 20277, "Token '(' expected, but 'x' found at line 1, column 9"},
      {"EXTRACT(WEEK FROM d)", false, 20278,
       "Token 'YEAR or MONTH or DAY or HOUR or MINUTE or SECOND' expected, but 'WEEK' found at "
       "line 1, column 9"},
      {"EXTRACT(TABLE FROM d)", false, 20279,
       "Token 'YEAR or MONTH or DAY or HOUR or MINUTE or SECOND' expected, but 'TABLE' found at "
       "line 1, column 9"},
      {"EXTRACT(YEAR d)", false, 20280,
       "Token 'FROM' expected, but 'd' found at line 1, column 14"},
      {"EXTRACT(YEAR FROM =)", false, 20281,
       "Argument expected for function 'EXTRACT (... FROM ...)' at line 1, column 19"},
      {"EXTRACT(YEAR FROM d x)", false, 20282,
       "Token ')' expected, but 'x' found at line 1, column 21"},
      {"LENGTH x", false, 30083, "Token '(' expected, but 'x' found at line 1, column 8"},
      {"LENGTH(s x)", false, 30084, "Token ')' expected, but 'x' found at line 1, column 10"},
      {"LENGTH(=)", false, 30085, "Argument expected for function 'LENGTH' at line 1, column 8"},
      {"LASTAUTOINC x", false, 30086, "Token '(' expected, but 'x' found at line 1, column 13"},
      {"LASTAUTOINC(t c)", false, 30334, "Token ',' expected, but 'c' found at line 1, column 15"},
      {"LASTAUTOINC(t, c x)", false, 30089,
       "Token ')' expected, but 'x' found at line 1, column 18"},
      {"ABS x", false, 20261, "Token '(' expected, but 'x' found at line 1, column 5"},
      {"SQRT(=)", false, 20262, "Argument expected for function 'SQRT' at line 1, column 6"},
      {"ABS(1 x)", false, 20263, "Token ')' expected, but 'x' found at line 1, column 7"},
      {"POWER x", false, 20264, "Token '(' expected, but 'x' found at line 1, column 7"},
      {"POWER(=, 2)", false, 20265, "Argument expected for function 'POWER' at line 1, column 7"},
      {"POWER(2 3)", false, 20267, "comma (\",\") expected but not found at line 1, column 9"},
      {"POWER(2, =)", false, 20268, "Argument expected for function 'POWER' at line 1, column 10"},
      {"POWER(2, 3 x)", false, 20266, "Token ')' expected, but 'x' found at line 1, column 12"},
      {"ROUND x", false, 30502, "Token '(' expected, but 'x' found at line 1, column 7"},
      {"ROUND(=)", false, 30503, "Argument expected for function 'ROUND' at line 1, column 7"},
      {"ROUND(1, =)", false, 30504, "Argument expected for function 'ROUND' at line 1, column 10"},
      {"ROUND(1, 2, 'x')", false, 30505,
       "Argument expected for function 'ROUND' at line 1, column 13"},
      {"ROUND(1, 2, TABLE)", false, 30505,
       "Argument expected for function 'ROUND' at line 1, column 13"},
      {"ROUND(1 x)", false, 30506, "Token ')' expected, but 'x' found at line 1, column 9"},
      {"DATE 5", false, 20283,
       "Date string expected \"YYYY-MM-DD\", but found \"5\" at line 1, column 6"},
      {"DATE '2020-02-30'", false, 20284,
       "Token 'YYYY-MM-DD' expected, but '2020-02-30' found at line 1, column 6"},
      {"DATE 'soon'", false, 20284,
       "Token 'YYYY-MM-DD' expected, but 'soon' found at line 1, column 6"},
      {"TIME 5", false, 20285,
       "Time string expected \"HH:MM:SS\", but found \"5\" at line 1, column 6"},
      {"TIME '25:00:00'", false, 20286,
       "Token 'HH:MM:SS' expected, but '25:00:00' found at line 1, column 6"},
      {"TIMESTAMP 5", false, 20287,
       "Time string expected \"HH:MM:SS\", but found \"5\" at line 1, column 11"},
      {"TIMESTAMP 'x'", false, 20288,
       "Token 'YYYY-MM-DD' expected, but 'x' found at line 1, column 11"},
      {"UPPER x", false, 30090, "Token '(' expected, but 'x' found at line 1, column 7"},
      {"UPPER(s x)", false, 30091, "Token ')' expected, but 'x' found at line 1, column 9"},
      {"LOWER()", false, 30092,
       "String argument expected for function 'LOWER', but ')' found at line 1, column 7"},
      {"TOSTRING x", false, 30093, "Token '(' expected, but 'x' found at line 1, column 10"},
      {"TOSTRING(=)", false, 30094,
       "Argument expected for function 'unknown' at line 1, column 10"},
      {"TOSTRING(d 'f')", false, 30095, "Token ',' expected, but 'f' found at line 1, column 12"},
      {"TOSTRING(d, 5)", false, 30096,
       "Const DateFormat string expected, but '5' found at line 1, column 13"},
      {"TOSTRING(d, 'f' x)", false, 30097,
       "Token ')' expected, but 'x' found at line 1, column 17"},
      {"SUBSTRING x", false, 30098, "Token '(' expected, but 'x' found at line 1, column 11"},
      {"SUBSTRING(=)", false, 30099,
       "Argument expected for function 'unknown' at line 1, column 11"},
      {"SUBSTRING(s 1)", false, 30100,
       "Token ',' or 'from' expected, but '1' found at line 1, column 13"},
      {"SUBSTRING(s, =)", false, 30101,
       "Argument expected for function 'unknown' at line 1, column 14"},
      {"SUBSTRING(s, 1 x)", false, 30103,
       "Token ')' or ',' or 'FOR' expected, but 'x' found at line 1, column 16"},
      {"SUBSTRING(s, 1, 2 x)", false, 30104,
       "Token ')' expected, but 'x' found at line 1, column 19"},
      {"TODATE x", false, 30105, "Token '(' expected, but 'x' found at line 1, column 8"},
      {"TODATE('a', 'f' x)", false, 30106,
       "Token ')' expected, but 'x' found at line 1, column 17"},
      {"TODATE(=, 'f')", false, 30107,
       "Argument expected for function 'ToDate' at line 1, column 8"},
      {"TODATE('a' 'f')", false, 30108, "Token ',' expected, but 'f' found at line 1, column 12"},
      {"TODATE('a', 5)", false, 30109,
       "Const DateFormat string expected, but '5' found at line 1, column 13"},
      {"(SYSDATE - 1 'x')", false, 30501, "Token ')' expected, but 'x' found at line 1, column 14"},
      {"COALESCE x", false, 20275, "Token '(' expected, but 'x' found at line 1, column 10"},
      {"COALESCE()", false, 20276, "COALESCE arguments are missing at line 1, column 10"},
      {"CASE = 1", false, 30467,
       "Input expression for CASE function expected, but '=' found at line 1, column 6"},
      {"CASE x THEN", false, 30468, "Token 'WHEN' expected, but 'THEN' found at line 1, column 8"},
      {"CASE x WHEN = THEN", false, 30469,
       "When Expression for CASE function expected, but '=' found at line 1, column 13"},
      {"CASE x WHEN 1 x", false, 30470,
       "Token 'THEN' expected, but 'x' found at line 1, column 15"},
      {"CASE x WHEN 1 THEN 2 ELSE = END", false, 30471,
       "'Else Result Expression' for CASE function expected, but '=' found at line 1, column 27"},
      {"CASE x WHEN 1 THEN 2 x", false, 30472,
       "Token 'END' expected, but 'x' found at line 1, column 22"},
      {"CASE WHEN = THEN", false, 30474,
       "Search Condition for CASE function expected, but '=' found at line 1, column 11"},
      {"CASE WHEN x = 1 x", false, 30475,
       "Token 'THEN' expected, but 'x' found at line 1, column 17"},
      {"CASE WHEN x = 1 THEN = END", false, 30476,
       "When Expression for CASE function expected, but '=' found at line 1, column 22"},
      {"CASE WHEN x THEN 2 ELSE = END", false, 30477,
       "'Else Result Expression' for CASE function expected, but '=' found at line 1, column 25"},
      {"CASE WHEN x THEN 2 x", false, 30478,
       "Token 'END' expected, but 'x' found at line 1, column 20"},
      {"MIMETOBIN x", false, 30479, "Token '(' expected, but 'x' found at line 1, column 11"},
      {"MIMETOBIN(5)", false, 30480,
       "String argument expected for function 'MimeToBin()', but '5' found at line 1, column 11"},
      {"MIMETOBIN('a' x)", false, 30481, "Token ')' expected, but 'x' found at line 1, column 15"},
      // Mended: a COALESCE list holding something that is no value ends.
      {"COALESCE(a, =)", false, 30513, "Token ')' expected, but '=' found at line 1, column 13"},
      {"COALESCE(a, b", false, 30059, "Missing symbol ')' at line 1, column 9"},
  };
  for (const ErrorCase& c : cases) {
    int32_t code = 0;
    std::string message = "<no exception>";
    try {
      Sql(c.text, c.condition);
    } catch (const EVEXException& e) {
      code = e.NativeError;
      message = Text(e);
    }
    EXPECT_EQ(code, c.code) << c.text;
    EXPECT_EQ(message, c.message) << c.text;
  }
}

TEST(ExprParser, ReadNextSpecifiedTokenRaisesAtTheEndOrForAnotherType) {
  TVEXLexer lexer(u"a 'b'", nullptr, false);
  lexer.GetNextCommand();
  TVEXExpression e;
  TVEXExprParser parser(e, lexer);
  parser.ReadCurrentToken();
  EXPECT_FALSE(parser.ReadNextSpecifiedToken({tktInt}, false));
  parser.RestoreTokenPosition(0);
  EXPECT_EQ(testsupport::MessageOf([&] { parser.ReadNextSpecifiedToken({tktInt}, true); }),
            "Unexpected token 'b' found at line 1, column 3 - Native error: 30064");
  EXPECT_EQ(testsupport::MessageOf([&] { parser.ReadNextSpecifiedToken({}, true); }),
            "Unexpected end of SQL command found at line 1, column 3 - Native error: 30063");
}

// Nested parentheses: the alternatives parse each operand again, so without
// the parser's memory of outcomes every level would multiply the work.
TEST(ExprParser, DeepNestingParsesOnceAndStopsAtTheDepthLimit) {
  auto nested = [](int depth, const std::string& inner) {
    if (inner == "ABS") {
      std::string text;
      for (int i = 0; i < depth; ++i) text += "ABS(";
      return text + "1" + std::string(static_cast<size_t>(depth), ')');
    }
    return std::string(static_cast<size_t>(depth), '(') + inner +
           std::string(static_cast<size_t>(depth), ')');
  };
  EXPECT_EQ(Value(nested(100, "'a'")), "'a'");
  EXPECT_EQ(Value(nested(100, "DATE '2000-01-01'")), "DATE:36526");
  EXPECT_EQ(Filter(nested(100, "Name = 'a'")), "(=2 Name 'a')");
  EXPECT_EQ(Filter(nested(60, "x") + " AND " + nested(60, "'a' = y")), "(AND x (=2 'a' y))");
  for (const std::string& text :
       {nested(400, "'a'"), nested(400, "x = 1"), nested(400, "SYSDATE - 1"), nested(400, "ABS"),
        "CASE WHEN " + nested(300, "x") + " THEN 1 END"}) {
    std::string message;
    EXPECT_EQ(testsupport::CodeOf([&] { Filter(text); }, &message), 30512) << text.substr(0, 40);
    EXPECT_NE(message.find("Expression is nested too deeply at line 1"), std::string::npos);
  }
}

// Random token sequences from the lexer's vocabulary end in a tree or an
// engine error: never a crash, a foreign exception or a hang.
TEST(ExprParser, RandomTokenSequencesNeverCrashOrHang) {
  std::vector<std::string> vocabulary = {
      "x",   "t",   ".",  "Name", "[a b]",        "1", "0", "2147483647", "1.5",
      "1e3", "'a'", "''", "'%'",  "'2000-01-01'", "(", ")", ",",          "=",
      "<>",  "<",   ">",  "<=",   ">=",           "+", "-", "*",          "/",
      "||",  "?",   ":p", "`w`",  "\"q\""};
  for (std::u16string_view word : ReservedWordNames) vocabulary.push_back(rtl::Utf16ToUtf8(word));
  std::mt19937 random(20261211);
  std::uniform_int_distribution<size_t> pick(0, vocabulary.size() - 1);
  std::uniform_int_distribution<int> length(1, 14);
  TVEXSQLParams params;
  params.AddCreated().SetAsInteger(1);
  params.AddCreated().Name = u"P";
  int parsed = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    const int n = length(random);
    for (int k = 0; k < n; ++k) text += vocabulary[pick(random)] + " ";
    const std::u16string wide = U(text);
    for (int mode = 0; mode < 3; ++mode) {
      try {
        TVEXExpression e;
        if (mode == 0) {
          e.ParseForFilter(nullptr, wide, true, true);
        } else if (mode == 1) {
          EXPECT_NO_THROW(e.ParseForDefaultValueExpression(wide));
        } else {
          TVEXLexer lexer(wide, &params, false);
          if (!lexer.GetNextCommand()) continue;
          e.ParseForValueExpression(nullptr, lexer);
        }
        if (e.RootNode()) ++parsed;
      } catch (const rtl::Exception&) {
        // An engine or platform error for a text that is no expression.
      }
    }
  }
  EXPECT_GT(parsed, 100);  // the vocabulary forms expressions, not only errors
}

}  // namespace
}  // namespace vex
