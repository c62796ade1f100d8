// The value half of the grammar: value expressions and their precedence,
// literals, column references, aggregates, CAST, CASE and COALESCE, string
// concatenation and date-time arithmetic.
#include <string>
#include <utility>
#include <vector>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "rtl/Exception.h"
#include "sql/expression/VEXExprParser.h"
#include "sql/expression/VEXExpression.h"
#include "sql/nodes/VEXExprArithmetic.h"
#include "sql/nodes/VEXExprCastCase.h"
#include "sql/nodes/VEXExprFunctionNodes.h"
#include "sql/nodes/VEXExprLeafNodes.h"

namespace vex {

namespace {

// Operator symbols arrive as name tokens; they never name a column.
bool IsOperatorSymbol(const TToken& T) {
  static constexpr std::u16string_view kSymbols[] = {u"=", u"<>", u"<", u">", u"<=", u">=",
                                                     u"+", u"-",  u"*", u"/", u"||"};
  if (T.TokenType != tktString) return false;
  for (std::u16string_view s : kSymbols)
    if (T.Text == s) return true;
  return false;
}

constexpr const char* kWhenExpected =
    "When Expression for CASE function expected, but '%s' found at line %d, column %d";
constexpr const char* kElseExpected =
    "'Else Result Expression' for CASE function expected, but '%s' found at line %d, column %d";

}  // namespace

// --------------------------------------------------------- value expressions

TVEXExprNodePtr TVEXExprParser::ParseValueExpression() {
  TDepth depth(*this);
  return MemoFirstAlternative(prValueExpression, 7, [this](int16_t alt) -> TVEXExprNodePtr {
    switch (alt) {
      case 0:
        return ParseNumericValueExpression();
      case 1:
        return ParseDateTimeArithmetic();
      case 2:
        return ParseDateTimeValueFunction();
      case 3:
        return ParseStringValueExpression();
      case 4:
        return ParseTruthValue();
      case 5:
        return ParseNullLiteral();
      default:
        return ParseMimeToBinFunction();
    }
  });
}

TVEXExprNodePtr TVEXExprParser::ParseNumericValueExpression() {
  TDepth depth(*this);
  return Memo(prNumericValueExpression, [&](int16_t, int16_t&) -> TVEXExprNodePtr {
    TVEXExprNodePtr result = ParseTerm();
    if (!result) return nullptr;
    if (IsSymbol(u"+") || IsSymbol(u"-")) {
      // One sum; each further term keeps its sign, which makes a "-" term a
      // negation: a - b + c is a + (-b) + c.
      TVEXExprNodePtr sum = std::make_unique<TVEXExprNodeArithmetic>(doADD, true, false);
      sum->Children.push_back(std::move(result));
      while (IsSymbol(u"+") || IsSymbol(u"-")) {
        TVEXExprNodePtr term = ParseTerm();
        if (!term) return nullptr;
        sum->Children.push_back(std::move(term));
      }
      result = std::move(sum);
    }
    // A concatenation is a string value expression.
    if (IsSymbol(u"||")) return nullptr;
    return result;
  });
}

TVEXExprNodePtr TVEXExprParser::ParseTerm() {
  TVEXExprNodePtr result = ParseFactor();
  if (!result) return nullptr;
  while (IsSymbol(u"*") || IsSymbol(u"/")) {
    const TVEXDataOperator op = IsSymbol(u"*") ? doMUL : doDIV;
    ReadNextToken();
    TVEXExprNodePtr factor = ParseFactor();
    if (!factor) return nullptr;
    result = std::make_unique<TVEXExprNodeArithmetic>(op, std::move(result), std::move(factor),
                                                      true, false);
  }
  return result;
}

TVEXExprNodePtr TVEXExprParser::ParseFactor() {
  // ParseSign: a sign is consumed and remembered.
  const bool negative = IsSymbol(u"-");
  if (negative || IsSymbol(u"+")) ReadNextToken();
  TVEXExprNodePtr primary = ParseNumericPrimary();
  if (!primary || !negative) return primary;
  return std::make_unique<TVEXExprNodeArithmetic>(doSUB, std::move(primary), true, false);
}

TVEXExprNodePtr TVEXExprParser::ParseNumericPrimary() {
  return Memo(prNumericPrimary, [&](int16_t first, int16_t& winner) -> TVEXExprNodePtr {
    const int32_t pos = SaveTokenPosition();
    if (first == 0) {
      if (TVEXExprNodePtr primary = ParseValueExpressionPrimary()) {
        // Text, date-time and Boolean constants belong to the other kinds
        // of value expression.
        auto* c = dynamic_cast<TVEXExprNodeConst*>(primary.get());
        if (c && !c->Value.IsNumericDataType()) return nullptr;
        return primary;
      }
      RestoreTokenPosition(pos);
    }
    winner = 1;
    return ParseNumericValueFunction();
  });
}

TVEXExprNodePtr TVEXExprParser::ParseValueExpressionPrimary() {
  return MemoFirstAlternative(prValueExpressionPrimary, 7, [this](int16_t alt) -> TVEXExprNodePtr {
    TVEXExprNodePtr result;
    switch (alt) {
      case 0:
        result = ParseUnsignedLiteral();
        break;
      case 1:
        result = ParseColumnReference();
        break;
      case 2:
        result = ParseSetFunctionSpecification();
        break;
      case 3:
        result = ParseSubquery(false, true);
        break;
      case 4:
        result = ParseCaseExpression();
        break;
      case 5:
        if (IsType(tktLeftParenthesis)) {
          ReadNextToken();
          result = ParseValueExpression();
          if (result && !IsType(tktRightParenthesis)) result.reset();
          if (result) ReadNextToken();
        }
        break;
      default:
        result = ParseCastSpecification();
        break;
    }
    return result;
  });
}

// ------------------------------------------------------------------ literals

TVEXExprNodePtr TVEXExprParser::ParseUnsignedLiteral() {
  if (TVEXExprNodePtr numeric = ParseUnsignedNumericLiteral()) return numeric;
  return ParseGeneralLiteral();
}

TVEXExprNodePtr TVEXExprParser::ParseUnsignedNumericLiteral() {
  TVEXExprNodePtr node;
  if (IsType(tktInt)) {
    node = NewConst();
    node->Value.Clear(bftSignedInt64);
    node->Value.SetAsAnsiString(rtl::Utf16ToWin1252(Token.Text));
    const int64_t v = node->Value.AsInt64();
    if (v > -2147483647 && v < 2147483647) node->Value.Cast(bftSignedInt32);
  } else if (IsType(tktFloat)) {
    node = NewConst();
    node->Value.Clear(bftDouble);
    node->Value.SetAsAnsiString(rtl::Utf16ToWin1252(Token.Text));
  } else if (IsParameterOf([](const TVEXVariant& v) { return v.IsNumericDataType(); })) {
    node = NewConst();
    node->Value.Assign(*Token.ParamValue, true);
  } else {
    return nullptr;
  }
  ReadNextToken();
  return node;
}

TVEXExprNodePtr TVEXExprParser::ParseGeneralLiteral() {
  if (TVEXExprNodePtr text = ParseCharacterStringLiteral()) return text;
  return ParseDateTimeLiteral();
}

TVEXExprNodePtr TVEXExprParser::ParseCharacterStringLiteral() {
  TVEXExprNodePtr node;
  if (IsType(tktQuotedString)) {
    node = NewConst();
    node->Value.SetAsWideString(Token.Text);
    node->Value.TryToReduceWideStringToAnsiString();
  } else if (IsParameterOf(
                 [](const TVEXVariant& v) { return v.IsStringDataType() || v.IsBlobDataType(); })) {
    node = NewConst();
    node->Value.Assign(*Token.ParamValue, true);
  } else {
    return nullptr;
  }
  ReadNextToken();
  return node;
}

TVEXExprNodePtr TVEXExprParser::ParseDateLiteralOf(TReservedWord Word, TVEXBaseFieldType Type,
                                                   int32_t NotQuotedCode, int32_t MalformedCode) {
  if (!IsWord(Word)) return nullptr;
  ReadNextToken();
  if (!IsType(tktQuotedString)) {
    if (Word == rwDATE)
      RaiseFound(NotQuotedCode,
                 "Date string expected \"YYYY-MM-DD\", but found \"%s\" at line %d, column %d");
    RaiseFound(NotQuotedCode,
               "Time string expected \"HH:MM:SS\", but found \"%s\" at line %d, column %d");
  }
  double value = 0;
  bool parsed = false;
  try {
    parsed = Type == bftDate   ? ParseSQLDate(Token.Text, value)
             : Type == bftTime ? ParseSQLTime(Token.Text, value)
                               : ParseSQLTimeStamp(Token.Text, value);
  } catch (const rtl::Exception&) {
    // An impossible date or time (February 30th) is as malformed as a text
    // of the wrong form.
    parsed = false;
  }
  if (!parsed) RaiseExpected(MalformedCode, Type == bftTime ? "HH:MM:SS" : "YYYY-MM-DD");
  TVEXExprNodePtr node = NewConst();
  node->Value.Clear(Type);
  if (Type == bftDate)
    node->Value.SetAsTDate(value);
  else if (Type == bftTime)
    node->Value.SetAsTTime(value);
  else
    node->Value.SetAsTDateTime(value);
  ReadNextToken();
  return node;
}

TVEXExprNodePtr TVEXExprParser::ParseDateTimeLiteral() {
  if (TVEXExprNodePtr d = ParseDateLiteralOf(rwDATE, bftDate, 20283, 20284)) return d;
  if (TVEXExprNodePtr t = ParseDateLiteralOf(rwTIME, bftTime, 20285, 20286)) return t;
  return ParseDateLiteralOf(rwTIMESTAMP, bftDateTime, 20287, 20288);
}

TVEXExprNodePtr TVEXExprParser::ParseNullLiteral() {
  TVEXExprNodePtr node;
  if (IsWord(rwNULL)) {
    node = NewConst();
    node->Value.Clear(bftSignedInt32);
  } else if (IsParameterOf([](const TVEXVariant& v) { return v.IsNull(); })) {
    node = NewConst();
    const TVEXBaseFieldType type = Token.ParamValue->DataType();
    node->Value.Clear(type == bftUnknown ? bftSignedInt32 : type);
  } else {
    return nullptr;
  }
  ReadNextToken();
  return node;
}

// ---------------------------------------------------------- column reference

TVEXExprNodePtr TVEXExprParser::ParseColumnReference() {
  if (!(IsType(tktString) || IsType(tktBracketedString) || IsType(tktReservedWord)) ||
      IsOperatorSymbol(Token))
    return nullptr;
  const bool reserved = IsType(tktReservedWord);
  std::u16string table;
  std::u16string column = Token.Text;
  ReadNextToken();
  if (IsType(tktDot)) {
    table = std::move(column);
    ReadNextToken();
    if (IsType(tktNone)) return nullptr;
    column = Token.Text;
    ReadNextToken();
  }
  if (IsType(tktLeftParenthesis) || reserved) return nullptr;
  return NewColumnNode(FExpr.LCursor, rtl::Utf16ToWin1252(column), rtl::Utf16ToWin1252(table));
}

// ------------------------------------------------------------- set functions

TVEXExprNodePtr TVEXExprParser::ParseSetFunctionSpecification() {
  if (IsWord(rwCOUNT)) {
    const int32_t pos = SaveTokenPosition();
    ReadNextToken();
    if (IsType(tktLeftParenthesis)) {
      ReadNextToken();
      if (IsSymbol(u"*")) {
        ReadNextToken();
        Expect(u")", tktRightParenthesis, 30073, ")");
        return std::make_unique<TVEXExprNodeAggregated>(doCOUNTALL);
      }
    }
    RestoreTokenPosition(pos);
  }
  return ParseGeneralSetFunction();
}

TVEXExprNodePtr TVEXExprParser::ParseGeneralSetFunction() {
  TVEXDataOperator op;
  if (IsWord(rwCOUNT))
    op = doCOUNT;
  else if (IsWord(rwAVG))
    op = doAVG;
  else if (IsWord(rwMAX))
    op = doMAX;
  else if (IsWord(rwMIN))
    op = doMIN;
  else if (IsWord(rwSUM))
    op = doSUM;
  else
    return nullptr;
  ReadNextToken();
  // DISTINCT stands inside the parentheses; before them it is taken too.
  bool distinct = IsWord(rwDISTINCT);
  if (distinct) ReadNextToken();
  Expect(u"(", tktLeftParenthesis, 30074, "(");
  if (!distinct && IsWord(rwDISTINCT)) {
    distinct = true;
    ReadNextToken();
  }
  TVEXExprNodePtr argument = ParseValueExpression();
  if (!argument) RaiseArgumentExpected(30102, GetOperatorName(op));
  Expect(u")", tktRightParenthesis, 30075, ")");
  return std::make_unique<TVEXExprNodeAggregated>(op, distinct, std::move(argument));
}

// ---------------------------------------------------------------------- CAST

TVEXExprNodePtr TVEXExprParser::ParseCastOperand() {
  if (TVEXExprNodePtr null = ParseNullLiteral()) {
    ReadNextToken();  // the AS or "," behind NULL
    return null;
  }
  return ParseValueExpression();
}

TVEXExprNodePtr TVEXExprParser::ParseCastSpecification() {
  if (!IsWord(rwCAST)) return nullptr;
  ReadNextToken();
  if (!IsType(tktLeftParenthesis)) return nullptr;
  ReadNextToken();
  TVEXExprNodePtr operand = ParseCastOperand();
  if (!operand) return nullptr;
  if (IsType(tktComma) || IsWord(rwAS)) ReadNextToken();
  const TVEXAdvancedFieldType type = SQLTypeNameToAdvancedType(rtl::Utf16ToWin1252(Token.Text));
  if (!IsCastableAdvancedFieldType(type))
    throw EVEXException(30077, "Cannot convert an expression to specified type: '%s'",
                        AdvancedFieldTypeToSQLName(type));
  ReadNextToken();
  TVEXExprNodePtr size;
  if (IsType(tktLeftParenthesis)) {
    ReadNextToken();
    size = ParseNumericValueExpression();
    Expect(u")", tktRightParenthesis, 30465, ")");
  }
  Expect(u")", tktRightParenthesis, 30076, ")");
  return std::make_unique<TVEXExprNodeCast>(std::move(operand), type, std::move(size));
}

// --------------------------------------------------------- string expressions

TVEXExprNodePtr TVEXExprParser::ParseStringValueExpression() {
  TDepth depth(*this);
  return Memo(prStringValueExpression, [&](int16_t first, int16_t& winner) -> TVEXExprNodePtr {
    const int32_t pos = SaveTokenPosition();
    if (first == 0) {
      if (TVEXExprNodePtr concatenation = ParseConcatenation()) return concatenation;
      RestoreTokenPosition(pos);
    }
    winner = 1;
    return ParseCharacterPrimary();
  });
}

TVEXExprNodePtr TVEXExprParser::ParseConcatenation() {
  return Memo(prConcatenation, [&](int16_t, int16_t&) -> TVEXExprNodePtr {
    TVEXExprNodePtr first = ParseCharacterPrimary();
    if (!first || !(IsSymbol(u"||") || IsSymbol(u"+"))) return nullptr;
    TVEXExprNodePtr node = std::make_unique<TVEXExprNodeStringFunction>(doCONCAT, true, false);
    node->Children.push_back(std::move(first));
    while (IsSymbol(u"||") || IsSymbol(u"+")) {
      ReadNextToken();
      if (TVEXExprNodePtr next = ParseCharacterPrimary()) node->Children.push_back(std::move(next));
    }
    return node;
  });
}

TVEXExprNodePtr TVEXExprParser::ParseCharacterPrimary() {
  return MemoFirstAlternative(prCharacterPrimary, 3, [this](int16_t alt) -> TVEXExprNodePtr {
    if (alt == 0) return ParseValueExpressionPrimary();
    if (alt == 1) return ParseStringValueFunction();
    return ParseDateTimeValueFunction();
  });
}

// ------------------------------------------------------ date-time arithmetic

TVEXExprNodePtr TVEXExprParser::ParseDateTimeValue() {
  if (TVEXExprNodePtr function = ParseDateTimeValueFunction()) return function;
  return ParseDateTimeLiteral();
}

TVEXExprNodePtr TVEXExprParser::ParseDateTimeArithmetic() {
  TDepth depth(*this);
  return Memo(prDateTimeArithmetic, [&](int16_t, int16_t&) -> TVEXExprNodePtr {
    const int32_t pos = SaveTokenPosition();
    auto combine = [](TVEXExprNodePtr left, bool minus, TVEXExprNodePtr right) {
      TVEXExprNodePtr signedRight = std::make_unique<TVEXExprNodeArithmetic>(
          minus ? doSUB : doADD, std::move(right), true, false);
      return TVEXExprNodePtr(std::make_unique<TVEXExprNodeArithmetic>(
          doADD, std::move(left), std::move(signedRight), true, false));
    };
    // 1. A date-time value + or - any value.
    if (TVEXExprNodePtr left = ParseDateTimeValue()) {
      if (IsSymbol(u"+") || IsSymbol(u"-")) {
        const bool minus = IsSymbol(u"-");
        ReadNextToken();
        TVEXExprNodePtr right = ParseValueExpression();
        if (!right) return nullptr;
        return combine(std::move(left), minus, std::move(right));
      }
    }
    // 2. A text minus a date-time value.
    RestoreTokenPosition(pos);
    if (TVEXExprNodePtr left = ParseStringValueExpression()) {
      if (IsSymbol(u"-")) {
        ReadNextToken();
        TVEXExprNodePtr right = ParseDateTimeValue();
        if (!right) return nullptr;
        return combine(std::move(left), true, std::move(right));
      }
    }
    // 3. Date-time arithmetic in parentheses.
    RestoreTokenPosition(pos);
    if (!IsType(tktLeftParenthesis)) return nullptr;
    ReadNextToken();
    TVEXExprNodePtr inner = ParseDateTimeArithmetic();
    if (!inner) return nullptr;
    Expect(u")", tktRightParenthesis, 30501, ")");
    return inner;
  });
}

// ------------------------------------------------------- CASE and COALESCE

TVEXExprNodePtr TVEXExprParser::ParseCaseExpression() {
  if (TVEXExprNodePtr coalesce = ParseCoalesce()) return coalesce;
  if (!IsWord(rwCASE)) return nullptr;
  ReadNextToken();
  if (IsWord(rwWHEN)) return ParseSearchedCase();
  return ParseSimpleCase();
}

TVEXExprNodePtr TVEXExprParser::ParseCoalesce() {
  if (!IsWord(rwCOALESCE)) return nullptr;
  ReadNextToken();
  Expect(u"(", tktLeftParenthesis, 20275, "(");
  TVEXExprNodeArray arguments;
  for (;;) {
    if (IsType(tktRightParenthesis)) {
      if (arguments.empty()) RaiseAt(20276, "COALESCE arguments are missing at line %d, column %d");
      ReadNextToken();
      break;
    }
    TVEXExprNodePtr argument = ParseValueExpression();
    // Anything but a value, a "," or the closing ")" ends the list with an
    // error; waiting for a ")" that never comes would not end.
    if (!argument) RaiseExpected(30513, ")");
    arguments.push_back(std::move(argument));
    if (IsType(tktComma)) ReadNextToken();
  }
  return TVEXExprNodeCase::CreateCoalesce(std::move(arguments));
}

TVEXExprNodePtr TVEXExprParser::ParseSearchedCase() {
  std::unique_ptr<TVEXExprNodeCase> node = TVEXExprNodeCase::CreateSearchedCase();
  while (IsWord(rwWHEN)) {
    ReadNextToken();
    TVEXExprNodePtr condition = ParseSearchCondition();
    if (!condition)
      RaiseFound(30474,
                 "Search Condition for CASE function expected, but '%s' found at line %d, "
                 "column %d");
    if (!IsWord(rwTHEN)) RaiseExpected(30475, "THEN");
    ReadNextToken();
    TVEXExprNodePtr result = ParseValueExpression();
    if (!result) RaiseFound(30476, kWhenExpected);
    node->AddWhenExpression(std::move(condition));
    node->AddResultExpression(std::move(result));
  }
  if (IsWord(rwELSE)) {
    ReadNextToken();
    TVEXExprNodePtr result = ParseValueExpression();
    if (!result) RaiseFound(30477, kElseExpected);
    node->SetElseResultExpression(std::move(result));
  }
  if (!IsWord(rwEND)) RaiseExpected(30478, "END");
  ReadNextToken();
  return node;
}

TVEXExprNodePtr TVEXExprParser::ParseSimpleCase() {
  TVEXExprNodePtr input = ParseValueExpression();
  if (!input)
    RaiseFound(30467,
               "Input expression for CASE function expected, but '%s' found at line %d, column %d");
  std::unique_ptr<TVEXExprNodeCase> node = TVEXExprNodeCase::CreateSimpleCase(std::move(input));
  if (!IsWord(rwWHEN)) RaiseExpected(30468, "WHEN");
  while (IsWord(rwWHEN)) {
    ReadNextToken();
    TVEXExprNodePtr when = ParseValueExpression();
    if (!when) RaiseFound(30469, kWhenExpected);
    if (!IsWord(rwTHEN)) RaiseExpected(30470, "THEN");
    ReadNextToken();
    TVEXExprNodePtr result = ParseValueExpression();
    if (!result) RaiseFound(30469, kWhenExpected);
    node->AddWhenExpression(std::move(when));
    node->AddResultExpression(std::move(result));
  }
  if (IsWord(rwELSE)) {
    ReadNextToken();
    TVEXExprNodePtr result = ParseValueExpression();
    if (!result) RaiseFound(30471, kElseExpected);
    node->SetElseResultExpression(std::move(result));
  }
  if (!IsWord(rwEND)) RaiseExpected(30472, "END");
  ReadNextToken();
  return node;
}

}  // namespace vex
