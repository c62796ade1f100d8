#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "rtl/Exception.h"
#include "sql/VEXLexer.h"

namespace vex {
namespace {

std::string U8(std::u16string_view s) { return rtl::Utf16ToUtf8(s); }

// An expected token: type, text, word id (rwNone for none), line, column.
struct Tok {
  TTokenType type;
  std::u16string text;
  int word;
  int line;
  int column;
};

std::string Show(TTokenType type, std::u16string_view text, int word, int line, int column) {
  std::string s = U8(TokenTypeName(type)) + " \"" + U8(text) + "\"";
  if (word != rwNone) s += " #" + std::to_string(word);
  return s + " " + std::to_string(line) + ":" + std::to_string(column) + "\n";
}

// Every token of every command, one per line, commands separated by "--".
std::string Show(const TVEXLexer& lex) {
  std::string s;
  for (int32_t c = 0; c < lex.NumCommands(); ++c) {
    if (c > 0) s += "--\n";
    for (const TToken& t : lex.Commands[static_cast<size_t>(c)].Tokens)
      s += Show(t.TokenType, t.Text, t.ReservedWord, t.LineNum, t.ColumnNum);
  }
  return s;
}

std::string Show(const std::vector<Tok>& tokens) {
  std::string s;
  for (const Tok& t : tokens) s += Show(t.type, t.text, t.word, t.line, t.column);
  return s;
}

// The full message of what constructing a lexer over Sql raises, or "no error".
std::string ErrorOf(std::u16string_view sql, const TVEXSQLParams* params = nullptr,
                    bool noParams = false) {
  try {
    TVEXLexer lex(sql, params, noParams);
  } catch (const EVEXException& e) {
    return std::to_string(e.NativeError) + ": " + e.Message();
  } catch (const rtl::EListError& e) {
    return "list: " + e.Message();
  }
  return "no error";
}

constexpr int N = rwNone;

struct TokenCase {
  std::u16string sql;
  std::vector<Tok> tokens;
};

TEST(VEXLexerTest, ScansTokensWithTypeTextWordAndPosition) {
  const std::vector<TokenCase> cases = {
      // Quotes with doubled closers, brackets, backquotes with escapes.
      {u"'It''s' \"a\"\"b\" [a]]b] `a\\`b` `a``b` `\\n`",
       {{tktQuotedString, u"It's", N, 1, 1},
        {tktQuotedString, u"a\"b", N, 1, 9},
        {tktBracketedString, u"a]b", N, 1, 16},
        {tktString, u"a`b", N, 1, 23},
        {tktString, u"a`b", N, 1, 30},
        {tktString, u"n", N, 1, 37}}},
      // A quote opens a text only where a token starts.
      {u"abc'x' t[1]", {{tktString, u"abc'x'", N, 1, 1}, {tktString, u"t[1]", N, 1, 8}}},
      // Numbers.
      {u".5 1. 1e+5 2.5E-3 42 x.5 1.2.3",
       {{tktFloat, u".5", N, 1, 1},
        {tktFloat, u"1.", N, 1, 4},
        {tktFloat, u"1e+5", N, 1, 7},
        {tktFloat, u"2.5E-3", N, 1, 12},
        {tktInt, u"42", N, 1, 19},
        {tktString, u"x", N, 1, 22},
        {tktFloat, u".5", N, 1, 23},
        {tktFloat, u"1.2.3", N, 1, 26}}},
      // Dots, parentheses, commas and the operators.
      {u"t.col t. col f(a,b)",
       {{tktString, u"t", N, 1, 1},
        {tktDot, u".", N, 1, 2},
        {tktString, u"col", N, 1, 3},
        {tktString, u"t", N, 1, 7},
        {tktDot, u".", N, 1, 8},
        {tktString, u"col", N, 1, 10},
        {tktString, u"f", N, 1, 14},
        {tktLeftParenthesis, u"(", N, 1, 15},
        {tktString, u"a", N, 1, 16},
        {tktComma, u",", N, 1, 17},
        {tktString, u"b", N, 1, 18},
        {tktRightParenthesis, u")", N, 1, 19}}},
      {u"a<>b<=c>=d||e a!=b 1+2-3*4/5=6 x<y>z|w",
       {{tktString, u"a", N, 1, 1},   {tktString, u"<>", N, 1, 2},  {tktString, u"b", N, 1, 4},
        {tktString, u"<=", N, 1, 5},  {tktString, u"c", N, 1, 7},   {tktString, u">=", N, 1, 8},
        {tktString, u"d", N, 1, 10},  {tktString, u"||", N, 1, 11}, {tktString, u"e", N, 1, 13},
        {tktString, u"a!", N, 1, 15}, {tktString, u"=", N, 1, 17},  {tktString, u"b", N, 1, 18},
        {tktInt, u"1", N, 1, 20},     {tktString, u"+", N, 1, 21},  {tktInt, u"2", N, 1, 22},
        {tktString, u"-", N, 1, 23},  {tktInt, u"3", N, 1, 24},     {tktString, u"*", N, 1, 25},
        {tktInt, u"4", N, 1, 26},     {tktString, u"/", N, 1, 27},  {tktInt, u"5", N, 1, 28},
        {tktString, u"=", N, 1, 29},  {tktInt, u"6", N, 1, 30},     {tktString, u"x", N, 1, 32},
        {tktString, u"<", N, 1, 33},  {tktString, u"y", N, 1, 34},  {tktString, u">", N, 1, 35},
        {tktString, u"z", N, 1, 36},  {tktString, u"|", N, 1, 37},  {tktString, u"w", N, 1, 38}}},
      // White space after a lone dot only ends it.
      {u"t.\r\ncol t.\tc",
       {{tktString, u"t", N, 1, 1},
        {tktDot, u".", N, 1, 2},
        {tktString, u"col", N, 2, 1},
        {tktString, u"t", N, 2, 5},
        {tktDot, u".", N, 2, 6},
        {tktString, u"c", N, 2, 8}}},
      // Positions across CR LF and across a quoted text that spans lines.
      {u"SELECT\r\n  a, 'x\r\ny' ,b\r\nFROM t",
       {{tktReservedWord, u"SELECT", rwSELECT, 1, 1},
        {tktString, u"a", N, 2, 3},
        {tktComma, u",", N, 2, 4},
        {tktQuotedString, u"x\r\ny", N, 2, 6},
        {tktComma, u",", N, 3, 4},
        {tktString, u"b", N, 3, 5},
        {tktReservedWord, u"FROM", rwFROM, 4, 1},
        {tktString, u"t", N, 4, 6}}},
      // Only a plain word is a keyword; "END-EXEC" never forms one token.
      {u"'SELECT' [SELECT] `SELECT` select absolute END-EXEC",
       {{tktQuotedString, u"SELECT", N, 1, 1},
        {tktBracketedString, u"SELECT", N, 1, 10},
        {tktReservedWord, u"SELECT", N, 1, 19},
        {tktReservedWord, u"select", rwSELECT, 1, 28},
        {tktReservedWord, u"absolute", rwABSOLUTE, 1, 35},
        {tktReservedWord, u"END", rwEND, 1, 44},
        {tktString, u"-", N, 1, 47},
        {tktReservedWord, u"EXEC", rwEXEC, 1, 48}}},
      // Tab is white space; form feed and non-breaking space are not.
      {u"a\tb\fc\u00a0d", {{tktString, u"a", N, 1, 1}, {tktString, u"b\fc\u00a0d", N, 1, 3}}},
  };
  for (const TokenCase& c : cases) {
    TVEXLexer lex(c.sql, nullptr, false);
    EXPECT_EQ(Show(lex), Show(c.tokens)) << U8(c.sql);
  }
}

TEST(VEXLexerTest, CommentsEndTheTokenBeforeThem) {
  const std::vector<TokenCase> cases = {
      {u"a--note\nFROM", {{tktString, u"a", N, 1, 1}, {tktReservedWord, u"FROM", rwFROM, 2, 1}}},
      {u"a/*x*/b", {{tktString, u"a", N, 1, 1}, {tktString, u"b", N, 1, 7}}},
      {u"1/*x\ny*/ .5", {{tktInt, u"1", N, 1, 1}, {tktFloat, u".5", N, 2, 5}}},
      // A comment inside a quoted text is text.
      {u"'a--b' [/*c*/]",
       {{tktQuotedString, u"a--b", N, 1, 1}, {tktBracketedString, u"/*c*/", N, 1, 8}}},
      // An unterminated block comment runs to the end without error.
      {u"a /* b", {{tktString, u"a", N, 1, 1}}},
  };
  for (const TokenCase& c : cases) {
    TVEXLexer lex(c.sql, nullptr, false);
    EXPECT_EQ(Show(lex), Show(c.tokens)) << U8(c.sql);
  }
}

TEST(VEXLexerTest, SplitsCommandsOnlyAtSemicolonsAndNeverMakesAnEmptyOne) {
  const std::vector<std::pair<std::u16string, std::string>> cases = {
      {u"SELECT a FROM t; SELECT b FROM u;", "SELECT,a,FROM,t|SELECT,b,FROM,u"},
      {u"", ""},
      {u";", ""},
      {u" ; ;", ""},
      {u"-- note", ""},
      {u"/* a; b */", ""},
      {u"a;;b", "a|b"},
      {u"'a;b' ; c", "a;b|c"},
      {u"a\nGO\nb", "a,GO,b"},
  };
  for (const auto& [sql, expected] : cases) {
    TVEXLexer lex(sql, nullptr, false);
    std::string got;
    for (int32_t c = 0; c < lex.NumCommands(); ++c) {
      if (c > 0) got += "|";
      const TSQLCommand& cmd = lex.Commands[static_cast<size_t>(c)];
      EXPECT_EQ(cmd.NumTokens, static_cast<int32_t>(cmd.Tokens.size()));
      for (size_t i = 0; i < cmd.Tokens.size(); ++i) got += (i ? "," : "") + U8(cmd.Tokens[i].Text);
    }
    EXPECT_EQ(got, expected) << U8(sql);
    EXPECT_EQ(lex.CurrentCommandNo, -1);
  }
}

TEST(VEXLexerTest, ScanErrorsNameTheirPlace) {
  TVEXSQLParams params;
  const std::vector<std::pair<std::u16string, std::string>> cases = {
      {u"SELECT (a FROM t", "30059: Missing symbol ')' at line 1, column 8 - Native error: 30059"},
      {u"SELECT a; (b (c) ; d",
       "30059: Missing symbol ')' at line 1, column 14 - Native error: 30059"},
      {u"SELECT a) FROM t",
       "30060: Unexpected symbol ')' found at line 1, column 9 - Native error: 30060"},
      {u"SELECT 'abc", "30061: Unterminated string at line 1, column 8 - Native error: 30061"},
      {u"\r\n  [abc\n", "30061: Unterminated string at line 2, column 3 - Native error: 30061"},
      {u"`a\\", "30061: Unterminated string at line 1, column 1 - Native error: 30061"},
      // An unterminated text is no parameter name to look up.
      {u"SELECT :'abc", "30061: Unterminated string at line 1, column 8 - Native error: 30061"},
      // The parenthesis checks of a command come first.
      {u"SELECT ('abc", "30059: Missing symbol ')' at line 1, column 8 - Native error: 30059"},
      {u"SELECT 12abc",
       "30062: Invalid numeric symbol 'a' at line 1, column 10 - Native error: 30062"},
      {u"\n 1e5x", "30062: Invalid numeric symbol 'x' at line 2, column 5 - Native error: 30062"},
      {u"SELECT :x", "30358: Value for parameter 'x' not found - Native error: 30358"},
      {u"SELECT ?", "30358: Value for parameter '' not found - Native error: 30358"},
  };
  for (const auto& [sql, expected] : cases) EXPECT_EQ(ErrorOf(sql), expected) << U8(sql);
  // The same with an empty list: named ones are missing, "?" is past its end.
  EXPECT_EQ(ErrorOf(u"SELECT :x", &params),
            "30358: Value for parameter 'x' not found - Native error: 30358");
  EXPECT_EQ(ErrorOf(u"SELECT ?", &params), "list: List index out of bounds (0)");
}

TEST(VEXLexerTest, ReservedWordsMapBothWaysForAllIds) {
  ASSERT_EQ(ReservedWordNames.size(), 292u);
  for (int32_t id = 0; id < ReservedWordCount; ++id) {
    const std::u16string word(ReservedWordNames[static_cast<size_t>(id)]);
    EXPECT_EQ(FindReservedWord(word), id) << U8(word);
    std::u16string lower = word;
    for (char16_t& ch : lower)
      if (ch >= u'A' && ch <= u'Z') ch = static_cast<char16_t>(ch + 32);
    EXPECT_EQ(FindReservedWord(lower), id) << U8(lower);
  }
  // Ids the parsers test by number, and the two words spelt unlike their ids.
  const std::vector<std::pair<TReservedWord, std::u16string>> pinned = {
      {rwABSOLUTE, u"ABSOLUTE"},
      {rwALTER, u"ALTER"},
      {rwEND_EXEC, u"END-EXEC"},
      {rwSELECT, u"SELECT"},
      {rwZONE, u"ZONE"},
      {rwPASSWORD, u"PASSWORD"},
      {rwLAST_AUTOINC, u"LASTAUTOINC"},
      {rwINDEX, u"INDEX"},
      {rwRENAME, u"RENAME"},
      {rwTRUNCATE, u"TRUNCATE"},
      {rwHALFEVEN, u"HALFEVEN"},
      {rwRNDUP, u"RNDUP"}};
  const std::vector<int> ids = {0, 5, 74, 179, 229, 230, 234, 237, 259, 266, 283, 291};
  for (size_t i = 0; i < pinned.size(); ++i) {
    EXPECT_EQ(static_cast<int>(pinned[i].first), ids[i]);
    EXPECT_EQ(ReservedWordNames[pinned[i].first], pinned[i].second);
  }
  EXPECT_EQ(static_cast<int>(rwNone), 292);
  // Only a to z fold; no locale folding.
  EXPECT_EQ(FindReservedWord(u"sElEcT"), rwSELECT);
  EXPECT_EQ(FindReservedWord(u"SELECTS"), -1);
  EXPECT_EQ(FindReservedWord(u"\u0131ndex"), -1);  // dotless i
  EXPECT_EQ(FindReservedWord(u""), -1);

  TVEXLexer lex(u"`SELECT` SELECT x", nullptr, false);
  const auto& t = lex.Commands[0].Tokens;
  EXPECT_FALSE(IsReservedWordToken(t[0], rwSELECT));
  EXPECT_TRUE(IsReservedWordToken(t[0], rwNone));
  EXPECT_TRUE(IsReservedWordToken(t[1], rwSELECT));
  EXPECT_FALSE(IsReservedWordToken(t[1], rwFROM));
  EXPECT_FALSE(IsReservedWordToken(t[2], rwNone));
}

// A list with: "Id" = 7, "my param" = 'x', "\u00c9t\u00e9" = 1, "id" = 99.
struct Params {
  Params() {
    TVEXSQLParam& id = list.AddCreated();
    id.Name = u"Id";
    id.SetAsInteger(7);
    TVEXSQLParam& spaced = list.AddCreated();
    spaced.Name = u"my param";
    spaced.SetAsAnsiString("x");
    TVEXSQLParam& accented = list.AddCreated();
    accented.Name = u"\u00c9t\u00e9";
    accented.SetAsInteger(1);
    TVEXSQLParam& second = list.AddCreated();
    second.Name = u"id";
    second.SetAsInteger(99);
  }
  TVEXSQLParams list;
};

std::string ShowParameters(const TVEXLexer& lex) {
  std::string s;
  for (const TSQLCommand& c : lex.Commands)
    for (const TToken& t : c.Tokens) {
      s += U8(TokenTypeName(t.TokenType)) + " " + U8(t.Text) + "=";
      s += t.ParamValue ? t.ParamValue->AsAnsiString() : "-";
      s += ";";
    }
  return s;
}

TEST(VEXLexerTest, NamedParametersMatchAnyAToZCaseAndQuotedForms) {
  Params p;
  TVEXLexer lex(u":ID :iD :\"my param\" :[my param] :'my param' :\u00c9t\u00e9", &p.list, false);
  EXPECT_EQ(ShowParameters(lex),
            "tktParameter ID=7;tktParameter iD=7;tktParameter my param=x;"
            "tktParameter my param=x;tktParameter my param=x;tktParameter \u00c9t\u00e9=1;");
  EXPECT_EQ(lex.Commands[0].Tokens[2].ColumnNum, 9);  // the colon's column

  // A letter outside a to z matches only in its own case.
  EXPECT_EQ(ErrorOf(u":\u00e9t\u00e9", &p.list),
            "30358: Value for parameter '\xe9t\xe9' not found - Native error: 30358");
  EXPECT_EQ(p.list.GetParamByName(u"\u00e9T\u00c9"), nullptr);
  EXPECT_EQ(p.list.GetParamByName(u"ID"), &p.list.GetValue(0));

  // Without parameters they stay names (no lookup, no error).
  TVEXLexer plain(u":ID ? :\"x\"", nullptr, true);
  EXPECT_EQ(ShowParameters(plain), "tktString :ID=-;tktString ?=-;tktString :x=-;");
}

TEST(VEXLexerTest, PositionalParametersCountOverTheWholeText) {
  Params p;
  TVEXLexer lex(u"? , ?; ?a", &p.list, false);
  EXPECT_EQ(ShowParameters(lex),
            "tktParameter Param1=7;tktComma ,=-;tktParameter Param2=x;tktParameter Param3=1;");
  EXPECT_EQ(ErrorOf(u"?,?,?,?,?", &p.list), "list: List index out of bounds (4)");
  EXPECT_THROW(p.list.GetValue(-1), rtl::EListError);
  EXPECT_THROW(p.list.GetValue(4), rtl::EListError);
}

TEST(VEXLexerTest, TokenValuesSurviveAClearOfTheList) {
  auto p = std::make_unique<Params>();
  TVEXLexer withValues(u"SELECT :\"my param\", ?", &p->list, false);
  p->list.Clear();
  EXPECT_EQ(p->list.Count(), 0);
  p.reset();
  const auto& t = withValues.Commands[0].Tokens;
  ASSERT_NE(t[1].ParamValue, nullptr);
  EXPECT_EQ(t[1].ParamValue->AsAnsiString(), "x");
  EXPECT_EQ(t[3].ParamValue->AsInteger(), 7);
}

TEST(VEXLexerTest, ReadingPastTheEndKeepsThePositionOfTheLastToken) {
  TVEXLexer lex(u"a b;\n  c", nullptr, false);
  TToken tok;
  EXPECT_FALSE(lex.GetCurrentToken(tok));  // no command yet
  ASSERT_TRUE(lex.GetNextCommand());
  EXPECT_TRUE(lex.GetCurrentToken(tok));
  EXPECT_EQ(tok.Text, u"a");
  EXPECT_TRUE(lex.GetNextToken(tok));
  EXPECT_EQ(tok.Text, u"b");
  EXPECT_FALSE(lex.GetNextToken(tok));
  EXPECT_EQ(tok.TokenType, tktNone);
  EXPECT_EQ(tok.Text, u"");
  EXPECT_EQ(tok.ColumnNum, 3);
  tok.Text = u"b";
  EXPECT_FALSE(lex.GetCurrentToken(tok));
  EXPECT_EQ(tok.Text, u"b");  // only the type changes
  EXPECT_FALSE(lex.GetNextToken(tok));
  EXPECT_EQ(lex.GetCurrentTokenNo(), 3);  // the position keeps moving
  EXPECT_TRUE(lex.SetCurrentTokenNo(0, tok));
  EXPECT_EQ(tok.Text, u"a");
  EXPECT_FALSE(lex.SetCurrentTokenNo(2));

  ASSERT_TRUE(lex.GetNextCommand());
  lex.SetCurrentTokenNo(-1);
  EXPECT_TRUE(lex.GetNextSpecifiedToken(tok, {tktString}));
  EXPECT_EQ(tok.LineNum, 2);
  EXPECT_FALSE(lex.GetNextSpecifiedToken(tok, {tktString}));
  EXPECT_FALSE(lex.GetNextCommand());
  EXPECT_FALSE(lex.GetNextCommand());
}

}  // namespace
}  // namespace vex
