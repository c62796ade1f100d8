// The expression grammar: a recursive-descent parser over the tokens of one
// command that builds the node tree of an expression object.
//
// Each production is one method that returns the tree it built, or nullptr
// when it does not start at the current token. Productions with alternatives
// try them in a fixed order, setting the lexer back to the saved token before
// each further one, so a failed alternative leaves no trace. A production
// raises only once it has committed itself (its keyword was seen and
// something required is missing); the error names the current token and its
// line and column.
//
// The conditions (VEXExprParserConditions.cpp), from the loosest binding:
// OR chains to the left, one n-ary AND, a single NOT, IS [NOT] TRUE / FALSE /
// UNKNOWN, then the primaries: a predicate, a parenthesised condition, or a
// value that is a condition by itself (a Boolean column, parameter or CASE).
// The values (VEXExprParserValues.cpp): +/- as one n-ary sum whose negative
// terms are negations, * and / chaining to the left, signs, primaries,
// literals, column references, aggregates, CASE, COALESCE and CAST, string
// concatenation and date-time arithmetic; the built-in functions live in
// VEXExprParserFunctions.cpp.
//
// Design notes
//   1. Most predicates and value alternatives begin with the same operand and
//      parse it again for each alternative tried. So that nesting does not
//      multiply that work at each level, the parser remembers per production
//      and token position how an attempt ended: a production known to fail
//      there fails at once, and one known to succeed goes straight to the
//      alternative that succeeded. A production's outcome depends only on
//      the tokens and the expression's flags, which do not change during one
//      parse, so the memory is valid for the parser's lifetime.
//   2. Every production through which the grammar recurses (the value,
//      numeric, string and date-time expressions, the search condition)
//      counts its depth; past kMaxNestingDepth the parse stops
//      with 30512, so no text can exhaust the stack.
//   3. A production that fails restores the token position it started at;
//      nodes it built are freed by their owners (unique pointers), on every
//      way out, raises included.
//
// Errors raised here beyond those of the dialect's grammar:
//   30511 "Subquery is not allowed in a filter or default value, '%s' found
//         at line %d, column %d";
//   30512 "Expression is nested too deeply at line %d, column %d";
//   30513 T with ")" for a COALESCE list that is not closed or holds
//         something that is not a value expression.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "sql/VEXLexer.h"
#include "sql/expression/VEXExprParserNodes.h"
#include "sql/nodes/VEXExprNode.h"

namespace vex {

class TVEXExpression;

class TVEXExprParser {
 public:
  // Counted at every value, numeric value, string value and date-time
  // arithmetic production and every search condition: every way in which
  // the grammar recurses passes one of them. A parenthesis costs two or three
  // levels, so some hundred parentheses can be nested.
  static constexpr int32_t kMaxNestingDepth = 256;

  // Parses for Expr over the lexer's current command.
  TVEXExprParser(TVEXExpression& Expr, TVEXLexer& Lexer);
  TVEXExprParser(const TVEXExprParser&) = delete;
  TVEXExprParser& operator=(const TVEXExprParser&) = delete;

  // --- token routines
  bool ReadCurrentToken();
  bool ReadNextToken();
  bool ReadNextSpecifiedToken(TTokenTypes TokenTypes, bool RaiseAtEnd);
  int32_t SaveTokenPosition() const;
  void RestoreTokenPosition(int32_t TokenNo);

  // --- conditions
  TVEXExprNodePtr ParseSearchCondition();
  TVEXExprNodePtr ParseBooleanTerm();
  TVEXExprNodePtr ParseBooleanFactor();
  TVEXExprNodePtr ParseBooleanTest();
  TVEXExprNodePtr ParseBooleanPrimary();
  TVEXExprNodePtr ParsePredicate();
  TVEXExprNodePtr ParseTruthValue();
  TVEXExprNodePtr ParseQuantifiedComparison();
  TVEXExprNodePtr ParseComparisonPredicate();
  TVEXExprNodePtr ParseLikePredicate();
  TVEXExprNodePtr ParseNullPredicate();
  TVEXExprNodePtr ParseBetweenPredicate();
  TVEXExprNodePtr ParseInPredicate();
  TVEXExprNodePtr ParseExistsPredicate();
  TVEXExprNodePtr ParseRowValue();
  TVEXExprNodePtr ParseRowValueConstructor();
  TVEXExprNodePtr ParseSubquery(bool MustHaveOneRow, bool MustHaveOneField);
  // Consumes a comparison operator; doUNDEFINED (nothing consumed) when none.
  TVEXDataOperator ParseComparisonOperator();

  // --- values
  TVEXExprNodePtr ParseValueExpression();
  TVEXExprNodePtr ParseNumericValueExpression();
  TVEXExprNodePtr ParseTerm();
  TVEXExprNodePtr ParseFactor();
  TVEXExprNodePtr ParseNumericPrimary();
  TVEXExprNodePtr ParseValueExpressionPrimary();
  TVEXExprNodePtr ParseUnsignedLiteral();
  TVEXExprNodePtr ParseUnsignedNumericLiteral();
  TVEXExprNodePtr ParseGeneralLiteral();
  TVEXExprNodePtr ParseCharacterStringLiteral();
  TVEXExprNodePtr ParseDateTimeLiteral();
  TVEXExprNodePtr ParseNullLiteral();
  TVEXExprNodePtr ParseColumnReference();
  TVEXExprNodePtr ParseSetFunctionSpecification();
  TVEXExprNodePtr ParseGeneralSetFunction();
  TVEXExprNodePtr ParseCastSpecification();
  TVEXExprNodePtr ParseStringValueExpression();
  TVEXExprNodePtr ParseConcatenation();
  TVEXExprNodePtr ParseCharacterPrimary();
  TVEXExprNodePtr ParseDateTimeArithmetic();
  TVEXExprNodePtr ParseCaseExpression();

  // --- functions
  TVEXExprNodePtr ParseNumericValueFunction();
  TVEXExprNodePtr ParseStringValueFunction();
  TVEXExprNodePtr ParseDateTimeValueFunction();
  TVEXExprNodePtr ParseMimeToBinFunction();

  TToken Token;

 private:
  // Productions whose outcome the parser remembers (design note 1).
  enum TProduction : uint8_t {
    prSearchCondition,
    prBooleanPrimary,
    prRowValue,
    prValueExpression,
    prNumericValueExpression,
    prNumericPrimary,
    prValueExpressionPrimary,
    prDateTimeArithmetic,
    prStringValueExpression,
    prConcatenation,
    prCharacterPrimary,
    prQuantifiedComparison,
    prComparisonPredicate,
    prLikePredicate,
    prNullPredicate,
    prBetweenPredicate,
    prInPredicate,
  };
  static constexpr int16_t kFailed = -1;
  // The alternative to start with: 0 when unknown, the winner's number when
  // it succeeded before; -1 when it is known to fail.
  int16_t Recall(TProduction P, int32_t Pos) const;
  void Remember(TProduction P, int32_t Pos, int16_t Outcome);
  // Runs Body(first alternative) under the memory of P at the current
  // position; Body sets Winner to the alternative that succeeded.
  template <class F>
  TVEXExprNodePtr Memo(TProduction P, F&& Body);
  // Memo over numbered alternatives: tries Alternative(n) for n from the
  // remembered one up to Count - 1, each from the same token, and keeps the
  // first that gives a node.
  template <class F>
  TVEXExprNodePtr MemoFirstAlternative(TProduction P, int16_t Count, F&& Alternative);

  // Counts one level of nesting for its lifetime (design note 2).
  class TDepth {
   public:
    explicit TDepth(TVEXExprParser& P);
    ~TDepth() { --FP.FDepth; }
    TDepth(const TDepth&) = delete;
    TDepth& operator=(const TDepth&) = delete;

   private:
    TVEXExprParser& FP;
  };

  // Token tests.
  bool IsWord(TReservedWord Word) const { return IsReservedWordToken(Token, Word); }
  bool IsSymbol(std::u16string_view Text) const {
    return Token.TokenType == tktString && Token.Text == Text;
  }
  bool IsType(TTokenType T) const { return Token.TokenType == T; }
  bool IsParameterOf(bool (*Kind)(const TVEXVariant&)) const;

  // Raise helpers: every message ends with the current token's position.
  [[noreturn]] void RaiseExpected(int32_t Code, std::string_view Expected) const;
  [[noreturn]] void RaiseArgumentExpected(int32_t Code, std::string_view Function) const;
  [[noreturn]] void RaiseFound(int32_t Code, std::string_view Format) const;
  [[noreturn]] void RaiseAt(int32_t Code, std::string_view Format) const;

  // The node conventions.
  TVEXExprNodePtr NewConst() const;
  TVEXExprNodePtr NewBool(TVEXDataOperator Op) const;

  // Value productions with arguments, in VEXExprParserFunctions.cpp.
  TVEXExprNodePtr ParseMathFunction(TReservedWord Word, TVEXDataOperator Operator,
                                    std::string_view Name);
  TVEXExprNodePtr ParsePositionExpression();
  TVEXExprNodePtr ParseExtractExpression();
  TVEXExprNodePtr ParseLengthExpression();
  TVEXExprNodePtr ParseLastAutoincFunction();
  TVEXExprNodePtr ParseRowNumFunction();
  TVEXExprNodePtr ParseMathematicalFunction();
  TVEXExprNodePtr ParsePowerFunction();
  TVEXExprNodePtr ParseRoundFunction();
  TVEXExprNodePtr ParseOneStringArgumentFunction();
  TVEXExprNodePtr ParseSubstringFunction();
  TVEXExprNodePtr ParseToStringFunction();
  TVEXExprNodePtr ParseToDateFunction();
  TVEXExprNodePtr ParseCoalesce();
  TVEXExprNodePtr ParseSimpleCase();
  TVEXExprNodePtr ParseSearchedCase();
  TVEXExprNodePtr ParseCastOperand();
  TVEXExprNodePtr ParseDateTimeValue();
  // The three date-time literal forms.
  TVEXExprNodePtr ParseDateLiteralOf(TReservedWord Word, TVEXBaseFieldType Type,
                                     int32_t NotQuotedCode, int32_t MalformedCode);
  // Reads "(" with Code when missing.
  void Expect(std::u16string_view Symbol, TTokenType Type, int32_t Code, std::string_view Text);

  TVEXExpression& FExpr;
  TVEXLexer* LLex;
  int32_t FDepth = 0;
  std::unordered_map<uint32_t, int16_t> FMemo;
};

template <class F>
inline TVEXExprNodePtr TVEXExprParser::Memo(TProduction P, F&& Body) {
  const int32_t pos = SaveTokenPosition();
  const int16_t known = Recall(P, pos);
  if (known == kFailed) return nullptr;
  int16_t winner = 0;
  TVEXExprNodePtr result = Body(known, winner);
  if (!result) {
    RestoreTokenPosition(pos);
    Remember(P, pos, kFailed);
  } else {
    Remember(P, pos, winner);
  }
  return result;
}

template <class F>
inline TVEXExprNodePtr TVEXExprParser::MemoFirstAlternative(TProduction P, int16_t Count,
                                                            F&& Alternative) {
  return Memo(P, [&](int16_t first, int16_t& winner) -> TVEXExprNodePtr {
    const int32_t pos = SaveTokenPosition();
    for (int16_t alt = first; alt < Count; ++alt) {
      RestoreTokenPosition(pos);
      if (TVEXExprNodePtr result = Alternative(alt)) {
        winner = alt;
        return result;
      }
    }
    return nullptr;
  });
}

}  // namespace vex
