// The built-in functions of the grammar: numeric, string and date-time
// functions and MIMETOBIN. Each name is a reserved word; once it is seen,
// what the function's form requires is an error when missing.
#include <string>
#include <utility>

#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "sql/nodes/VEXExprArithmetic.h"
#include "sql/nodes/VEXExprFunctionNodes.h"
#include "sql/nodes/VEXExprLeafNodes.h"
#include "sql/expression/VEXExprParser.h"
#include "sql/expression/VEXExpression.h"

namespace vex {

namespace {

constexpr const char* kDateFormatExpected =
    "Const DateFormat string expected, but '%s' found at line %d, column %d";
constexpr const char* kStringArgumentExpected =
    "String argument expected for function '%s', but '%s' found at line %d, column %d";

struct TMathFunction {
  TReservedWord Word;
  TVEXDataOperator Operator;
  const char* Name;
};

// The one-argument functions, in the order they are tried.
constexpr TMathFunction kMathFunctions[] = {
    {rwABS, doABS, "ABS"},    {rwACOS, doACOS, "ACOS"},    {rwASIN, doASIN, "ASIN"},
    {rwATAN, doATAN, "ATAN"}, {rwCEIL, doCEIL, "CEIL"},    {rwCOS, doCOS, "COS"},
    {rwEXP, doEXP, "EXP"},    {rwFLOOR, doFLOOR, "FLOOR"}, {rwLOG, doLOG, "LOG"},
    {rwRAND, doRAND, "RAND"}, {rwSIGN, doSIGN, "SIGN"},    {rwSIN, doSIN, "SIN"},
    {rwSQR, doSQR, "SQR"},    {rwSQRT, doSQRT, "SQRT"}};

}  // namespace

// ------------------------------------------------------------------ numeric

TVEXExprNodePtr TVEXExprParser::ParseNumericValueFunction() {
  using Production = TVEXExprNodePtr (TVEXExprParser::*)();
  static constexpr Production kAlternatives[] = {
      &TVEXExprParser::ParsePositionExpression, &TVEXExprParser::ParseExtractExpression,
      &TVEXExprParser::ParseLengthExpression,   &TVEXExprParser::ParseLastAutoincFunction,
      &TVEXExprParser::ParseRowNumFunction,     &TVEXExprParser::ParseMathematicalFunction};
  for (Production p : kAlternatives)
    if (TVEXExprNodePtr result = (this->*p)()) return result;
  return nullptr;
}

TVEXExprNodePtr TVEXExprParser::ParsePositionExpression() {
  if (!IsWord(rwPOSITION) && !IsWord(rwPOS)) return nullptr;
  ReadNextToken();
  Expect(u"(", tktLeftParenthesis, 30078, "(");
  TVEXExprNodePtr text = ParseStringValueExpression();
  if (!text) RaiseArgumentExpected(30079, "POS");
  if (!IsType(tktComma) && !IsWord(rwIN)) RaiseExpected(30080, ",' or 'IN");
  ReadNextToken();
  TVEXExprNodePtr within = ParseStringValueExpression();
  if (!within) RaiseArgumentExpected(30081, "POS");
  Expect(u")", tktRightParenthesis, 30082, ")");
  return std::make_unique<TVEXExprNodeStringFunction>(doPOS, std::move(text), std::move(within),
                                                      true, false);
}

TVEXExprNodePtr TVEXExprParser::ParseExtractExpression() {
  if (!IsWord(rwEXTRACT)) return nullptr;
  ReadNextToken();
  Expect(u"(", tktLeftParenthesis, 20277, "(");
  constexpr const char* kFields = "YEAR or MONTH or DAY or HOUR or MINUTE or SECOND";
  if (!IsType(tktReservedWord)) RaiseExpected(20278, kFields);
  TVEXDateTimeExtractField field;
  if (IsWord(rwYEAR))
    field = dtefYear;
  else if (IsWord(rwMONTH))
    field = dtefMonth;
  else if (IsWord(rwDAY))
    field = dtefDay;
  else if (IsWord(rwHOUR))
    field = dtefHour;
  else if (IsWord(rwMINUTE))
    field = dtefMinute;
  else if (IsWord(rwSECOND))
    field = dtefSecond;
  else
    RaiseExpected(20279, kFields);
  ReadNextToken();
  if (!IsWord(rwFROM)) RaiseExpected(20280, "FROM");
  ReadNextToken();
  TVEXExprNodePtr source = ParseValueExpressionPrimary();
  if (!source) RaiseArgumentExpected(20281, "EXTRACT (... FROM ...)");
  Expect(u")", tktRightParenthesis, 20282, ")");
  return std::make_unique<TVEXExprNodeDateFunction>(doEXTRACT, field, std::move(source));
}

TVEXExprNodePtr TVEXExprParser::ParseLengthExpression() {
  if (!IsWord(rwLENGTH)) return nullptr;
  ReadNextToken();
  Expect(u"(", tktLeftParenthesis, 30083, "(");
  TVEXExprNodePtr text = ParseStringValueExpression();
  if (!text) RaiseArgumentExpected(30085, "LENGTH");
  Expect(u")", tktRightParenthesis, 30084, ")");
  return std::make_unique<TVEXExprNodeStringFunction>(doLENGTH, std::move(text), true, false);
}

TVEXExprNodePtr TVEXExprParser::ParseLastAutoincFunction() {
  if (!IsWord(rwLAST_AUTOINC)) return nullptr;
  ReadNextToken();
  Expect(u"(", tktLeftParenthesis, 30086, "(");
  const std::string table = rtl::Utf16ToWin1252(Token.Text);
  ReadNextToken();
  bool inMemory = FExpr.FInMemory;
  if (IsWord(rwMEMORY)) {
    inMemory = true;
    ReadNextToken();
  }
  Expect(u",", tktComma, 30334, ",");
  const std::string column = rtl::Utf16ToWin1252(Token.Text);
  ReadNextToken();
  Expect(u")", tktRightParenthesis, 30089, ")");
  return NewLastAutoIncNode(FExpr.FSessionName, FExpr.FDatabaseName, table, column, inMemory);
}

TVEXExprNodePtr TVEXExprParser::ParseRowNumFunction() {
  if (!IsWord(rwROWNUM)) return nullptr;
  ReadNextToken();
  return std::make_unique<TVEXExprNodeSystem>(doROWNUM, "", "", false);
}

TVEXExprNodePtr TVEXExprParser::ParseMathFunction(TReservedWord Word, TVEXDataOperator Operator,
                                                  std::string_view Name) {
  if (!IsWord(Word)) return nullptr;
  ReadNextToken();
  Expect(u"(", tktLeftParenthesis, 20261, "(");
  TVEXExprNodePtr argument = ParseNumericValueExpression();
  if (!argument) RaiseArgumentExpected(20262, Name);
  Expect(u")", tktRightParenthesis, 20263, ")");
  return std::make_unique<TVEXExprNodeArithmetic>(Operator, std::move(argument), true, false);
}

TVEXExprNodePtr TVEXExprParser::ParseMathematicalFunction() {
  // ABS to FLOOR, LOG, then POWER, RAND, ROUND, SIGN to SQRT.
  for (const TMathFunction& f : kMathFunctions) {
    if (f.Word == rwRAND) {
      if (TVEXExprNodePtr power = ParsePowerFunction()) return power;
    }
    if (f.Word == rwSIGN) {
      if (TVEXExprNodePtr round = ParseRoundFunction()) return round;
    }
    if (TVEXExprNodePtr result = ParseMathFunction(f.Word, f.Operator, f.Name)) return result;
  }
  return nullptr;
}

TVEXExprNodePtr TVEXExprParser::ParsePowerFunction() {
  if (!IsWord(rwPOWER)) return nullptr;
  ReadNextToken();
  Expect(u"(", tktLeftParenthesis, 20264, "(");
  TVEXExprNodePtr base = ParseNumericValueExpression();
  if (!base) RaiseArgumentExpected(20265, "POWER");
  if (!IsType(tktComma))
    RaiseAt(20267, "comma (\",\") expected but not found at line %d, column %d");
  ReadNextToken();
  TVEXExprNodePtr exponent = ParseNumericValueExpression();
  if (!exponent) RaiseArgumentExpected(20268, "POWER");
  Expect(u")", tktRightParenthesis, 20266, ")");
  return std::make_unique<TVEXExprNodeArithmetic>(doPOWER, std::move(base), std::move(exponent),
                                                  true, false);
}

TVEXExprNodePtr TVEXExprParser::ParseRoundFunction() {
  if (!IsWord(rwROUND)) return nullptr;
  ReadNextToken();
  Expect(u"(", tktLeftParenthesis, 30502, "(");
  TVEXExprNodePtr node = std::make_unique<TVEXExprNodeArithmetic>(doROUND, true, false);
  TVEXExprNodePtr value = ParseNumericValueExpression();
  if (!value) RaiseArgumentExpected(30503, "ROUND");
  node->Children.push_back(std::move(value));
  if (IsType(tktComma)) {
    ReadNextToken();
    TVEXExprNodePtr digits = ParseNumericValueExpression();
    if (!digits) RaiseArgumentExpected(30504, "ROUND");
    node->Children.push_back(std::move(digits));
    if (IsType(tktComma)) {
      ReadNextToken();
      // Only the nine rounding-mode words, HALFEVEN to RNDUP.
      if (!IsType(tktReservedWord) || Token.ReservedWord < rwHALFEVEN ||
          Token.ReservedWord > rwRNDUP)
        RaiseArgumentExpected(30505, "ROUND");
      TVEXExprNodePtr mode = NewConst();
      mode->Value.SetAsInteger(static_cast<int32_t>(Token.ReservedWord));
      node->Children.push_back(std::move(mode));
      ReadNextToken();
    }
  }
  Expect(u")", tktRightParenthesis, 30506, ")");
  return node;
}

// ------------------------------------------------------------------- string

TVEXExprNodePtr TVEXExprParser::ParseStringValueFunction() {
  if (TVEXExprNodePtr one = ParseOneStringArgumentFunction()) return one;
  if (TVEXExprNodePtr substring = ParseSubstringFunction()) return substring;
  return ParseToStringFunction();
}

TVEXExprNodePtr TVEXExprParser::ParseOneStringArgumentFunction() {
  TVEXDataOperator op;
  if (IsWord(rwUPPER))
    op = doUPPER;
  else if (IsWord(rwLOWER))
    op = doLOWER;
  else if (IsWord(rwTRIM))
    op = doTRIM;
  else if (IsWord(rwLTRIM))
    op = doLTRIM;
  else if (IsWord(rwRTRIM))
    op = doRTRIM;
  else
    return nullptr;
  ReadNextToken();
  Expect(u"(", tktLeftParenthesis, 30090, "(");
  TVEXExprNodePtr argument = ParseStringValueExpression();
  if (!IsType(tktRightParenthesis)) RaiseExpected(30091, ")");
  if (!argument)
    throw EVEXException(30092, kStringArgumentExpected, GetOperatorName(op), Token.Text,
                        Token.LineNum, Token.ColumnNum);
  ReadNextToken();
  return std::make_unique<TVEXExprNodeStringFunction>(op, std::move(argument), true, false);
}

TVEXExprNodePtr TVEXExprParser::ParseSubstringFunction() {
  if (!IsWord(rwSUBSTRING)) return nullptr;
  const std::string name = GetOperatorName(doSUBSTRING);
  ReadNextToken();
  Expect(u"(", tktLeftParenthesis, 30098, "(");
  TVEXExprNodePtr node = std::make_unique<TVEXExprNodeStringFunction>(doSUBSTRING, true, false);
  TVEXExprNodePtr text = ParseStringValueExpression();
  if (!text) RaiseArgumentExpected(30099, name);
  node->Children.push_back(std::move(text));
  if (!IsType(tktComma) && !IsWord(rwFROM)) RaiseExpected(30100, ",' or 'from");
  ReadNextToken();
  TVEXExprNodePtr start = ParseNumericValueExpression();
  if (!start) RaiseArgumentExpected(30101, name);
  node->Children.push_back(std::move(start));
  if (IsType(tktComma) || IsWord(rwFOR)) {
    ReadNextToken();
    if (TVEXExprNodePtr length = ParseNumericValueExpression())
      node->Children.push_back(std::move(length));
    Expect(u")", tktRightParenthesis, 30104, ")");
  } else if (IsType(tktRightParenthesis)) {
    ReadNextToken();
  } else {
    RaiseExpected(30103, ")' or ',' or 'FOR");
  }
  return node;
}

TVEXExprNodePtr TVEXExprParser::ParseToStringFunction() {
  if (!IsWord(rwTOSTRING)) return nullptr;
  ReadNextToken();
  Expect(u"(", tktLeftParenthesis, 30093, "(");
  TVEXExprNodePtr value = ParseValueExpression();
  if (!value) RaiseArgumentExpected(30094, GetOperatorName(doTOSTRING));
  if (!IsType(tktComma) && !IsWord(rwFROM)) RaiseExpected(30095, ",");
  ReadNextToken();
  if (!IsType(tktQuotedString)) RaiseFound(30096, kDateFormatExpected);
  const std::string format = rtl::Utf16ToWin1252(Token.Text);
  ReadNextToken();
  Expect(u")", tktRightParenthesis, 30097, ")");
  return std::make_unique<TVEXExprNodeDateFunction>(doTOSTRING, std::move(value), format);
}

// ---------------------------------------------------------------- date-time

TVEXExprNodePtr TVEXExprParser::ParseDateTimeValueFunction() {
  TVEXExprNodePtr node;
  if (IsWord(rwSYSDATE) || IsWord(rwNOW) || IsWord(rwCURRENT_TIMESTAMP)) {
    node = std::make_unique<TVEXExprNodeDateFunction>(doSYSDATE);
  } else if (IsWord(rwCURRENT_TIME)) {
    node = std::make_unique<TVEXExprNodeDateFunction>(doCURRENT_TIME);
  } else if (IsWord(rwCURRENT_DATE)) {
    node = std::make_unique<TVEXExprNodeDateFunction>(doCURRENT_DATE);
  } else if (IsWord(rwTODATE)) {
    return ParseToDateFunction();
  } else if (IsParameterOf([](const TVEXVariant& v) { return v.IsDateTimeDataType(); })) {
    node = NewConst();
    node->Value.Assign(*Token.ParamValue, true);
  } else {
    return nullptr;
  }
  ReadNextToken();
  return node;
}

TVEXExprNodePtr TVEXExprParser::ParseToDateFunction() {
  if (!IsWord(rwTODATE)) return nullptr;
  ReadNextToken();
  Expect(u"(", tktLeftParenthesis, 30105, "(");
  TVEXExprNodePtr text = ParseStringValueExpression();
  if (!text) RaiseArgumentExpected(30107, "ToDate");
  Expect(u",", tktComma, 30108, ",");
  if (!IsType(tktQuotedString)) RaiseFound(30109, kDateFormatExpected);
  const std::string format = rtl::Utf16ToWin1252(Token.Text);
  ReadNextToken();
  Expect(u")", tktRightParenthesis, 30106, ")");
  return std::make_unique<TVEXExprNodeDateFunction>(doTODATE, std::move(text), format);
}

// ---------------------------------------------------------------- MIMETOBIN

TVEXExprNodePtr TVEXExprParser::ParseMimeToBinFunction() {
  if (!IsWord(rwMIMETOBIN)) return nullptr;
  ReadNextToken();
  Expect(u"(", tktLeftParenthesis, 30479, "(");
  if (!IsType(tktQuotedString))
    throw EVEXException(30480, kStringArgumentExpected, "MimeToBin()", Token.Text, Token.LineNum,
                        Token.ColumnNum);
  TVEXExprNodePtr text = NewConst();
  text->Value.SetAsAnsiString(rtl::Utf16ToWin1252(Token.Text));
  ReadNextToken();
  Expect(u")", tktRightParenthesis, 30481, ")");
  return NewMimeToBinNode(std::move(text));
}

}  // namespace vex
