// The parser's token routines, its memory of outcomes, and the condition half
// of the grammar: search conditions, predicates and subqueries.
#include <string>
#include <utility>
#include <vector>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "sql/expression/VEXExprParser.h"
#include "sql/expression/VEXExpression.h"
#include "sql/nodes/VEXExprConditionNodes.h"
#include "sql/nodes/VEXExprLeafNodes.h"

namespace vex {

namespace {

constexpr const char* kBooleanExpected =
    "Boolean expression expected, but '%s' found at line %d, column %d";

const TVEXExprNodeConst* AsConst(const TVEXExprNode* Node) {
  return dynamic_cast<const TVEXExprNodeConst*>(Node);
}

bool IsTextType(TVEXBaseFieldType T) { return IsStringBaseFieldType(T); }

bool IsTextOrDateTimeType(TVEXBaseFieldType T) {
  return IsStringBaseFieldType(T) || IsDateTimeBaseFieldType(T);
}

// A constant holding a string that ends in '*' loses it (a partial key).
bool StripPartialKeyStar(TVEXExprNode* Node) {
  auto* c = dynamic_cast<TVEXExprNodeConst*>(Node);
  if (!c || c->Value.IsNull() || !c->Value.IsStringDataType()) return false;
  if (c->Value.IsWideStringDataType()) {
    std::u16string text = c->Value.AsWideString();
    if (text.empty() || text.back() != u'*') return false;
    text.pop_back();
    c->Value.SetAsWideString(text);
  } else {
    std::string text = c->Value.AsAnsiString();
    if (text.empty() || text.back() != '*') return false;
    text.pop_back();
    c->Value.SetAsAnsiString(text);
  }
  return true;
}

}  // namespace

// ------------------------------------------------------------ token routines

TVEXExprParser::TVEXExprParser(TVEXExpression& Expr, TVEXLexer& Lexer)
    : FExpr(Expr), LLex(&Lexer) {}

bool TVEXExprParser::ReadCurrentToken() {
  if (LLex->GetCurrentToken(Token)) return true;
  // Past the end: an "Unexpected end" names the command's last token.
  Token.Text.clear();
  const int32_t command = LLex->CurrentCommandNo;
  if (command >= 0 && command < LLex->NumCommands()) {
    const std::vector<TToken>& tokens = LLex->Commands[static_cast<size_t>(command)].Tokens;
    if (!tokens.empty()) {
      Token.LineNum = tokens.back().LineNum;
      Token.ColumnNum = tokens.back().ColumnNum;
    }
  }
  return false;
}

bool TVEXExprParser::ReadNextToken() { return LLex->GetNextToken(Token); }

bool TVEXExprParser::ReadNextSpecifiedToken(TTokenTypes TokenTypes, bool RaiseAtEnd) {
  if (!ReadNextToken()) {
    if (RaiseAtEnd) RaiseAt(30063, "Unexpected end of SQL command found at line %d, column %d");
    return false;
  }
  if (!TokenTypes.Empty() && !TokenTypes.Contains(Token.TokenType)) {
    if (RaiseAtEnd) RaiseFound(30064, "Unexpected token '%s' found at line %d, column %d");
    return false;
  }
  return true;
}

int32_t TVEXExprParser::SaveTokenPosition() const { return LLex->GetCurrentTokenNo(); }

void TVEXExprParser::RestoreTokenPosition(int32_t TokenNo) {
  if (!LLex->SetCurrentTokenNo(TokenNo, Token)) Token.Text.clear();
}

int16_t TVEXExprParser::Recall(TProduction P, int32_t Pos) const {
  auto it = FMemo.find((static_cast<uint32_t>(P) << 24) | static_cast<uint32_t>(Pos));
  return it == FMemo.end() ? 0 : it->second;
}

void TVEXExprParser::Remember(TProduction P, int32_t Pos, int16_t Outcome) {
  FMemo[(static_cast<uint32_t>(P) << 24) | static_cast<uint32_t>(Pos)] = Outcome;
}

TVEXExprParser::TDepth::TDepth(TVEXExprParser& P) : FP(P) {
  if (++FP.FDepth > kMaxNestingDepth) {
    --FP.FDepth;
    FP.RaiseAt(30512, "Expression is nested too deeply at line %d, column %d");
  }
}

bool TVEXExprParser::IsParameterOf(bool (*Kind)(const TVEXVariant&)) const {
  return Token.TokenType == tktParameter && Token.ParamValue != nullptr && Kind(*Token.ParamValue);
}

void TVEXExprParser::RaiseExpected(int32_t Code, std::string_view Expected) const {
  throw EVEXException(Code, "Token '%s' expected, but '%s' found at line %d, column %d", Expected,
                      Token.Text, Token.LineNum, Token.ColumnNum);
}

void TVEXExprParser::RaiseArgumentExpected(int32_t Code, std::string_view Function) const {
  throw EVEXException(Code, "Argument expected for function '%s' at line %d, column %d", Function,
                      Token.LineNum, Token.ColumnNum);
}

void TVEXExprParser::RaiseFound(int32_t Code, std::string_view Format) const {
  throw EVEXException(Code, Format, Token.Text, Token.LineNum, Token.ColumnNum);
}

void TVEXExprParser::RaiseAt(int32_t Code, std::string_view Format) const {
  throw EVEXException(Code, Format, Token.LineNum, Token.ColumnNum);
}

void TVEXExprParser::Expect(std::u16string_view Symbol, TTokenType Type, int32_t Code,
                            std::string_view Text) {
  const bool found = Type == tktString ? IsSymbol(Symbol) : IsType(Type);
  if (!found) RaiseExpected(Code, Text);
  ReadNextToken();
}

TVEXExprNodePtr TVEXExprParser::NewConst() const {
  return std::make_unique<TVEXExprNodeConst>(true, false);
}

TVEXExprNodePtr TVEXExprParser::NewBool(TVEXDataOperator Op) const {
  return std::make_unique<TVEXExprNodeBoolean>(Op, true, false, "");
}

// ------------------------------------------------------------ boolean levels

TVEXExprNodePtr TVEXExprParser::ParseSearchCondition() {
  TDepth depth(*this);
  return Memo(prSearchCondition, [&](int16_t, int16_t&) -> TVEXExprNodePtr {
    TVEXExprNodePtr result = ParseBooleanTerm();
    if (!result) return nullptr;
    while (IsWord(rwOR)) {
      ReadNextToken();
      TVEXExprNodePtr term = ParseBooleanTerm();
      if (!term) RaiseFound(30070, kBooleanExpected);
      result = std::make_unique<TVEXExprNodeBoolean>(doOR, std::move(result), std::move(term), true,
                                                     false);
    }
    return result;
  });
}

TVEXExprNodePtr TVEXExprParser::ParseBooleanTerm() {
  TVEXExprNodePtr first = ParseBooleanFactor();
  if (!first || !IsWord(rwAND)) return first;
  TVEXExprNodePtr node = NewBool(doAND);
  node->Children.push_back(std::move(first));
  while (IsWord(rwAND)) {
    ReadNextToken();
    TVEXExprNodePtr factor = ParseBooleanFactor();
    if (!factor) RaiseFound(30069, kBooleanExpected);
    node->Children.push_back(std::move(factor));
  }
  return node;
}

TVEXExprNodePtr TVEXExprParser::ParseBooleanFactor() {
  const bool negated = IsWord(rwNOT);
  if (negated) ReadNextToken();
  TVEXExprNodePtr test = ParseBooleanTest();
  if (!test || !negated) return test;
  return std::make_unique<TVEXExprNodeBoolean>(doNOT, std::move(test), true, false);
}

TVEXExprNodePtr TVEXExprParser::ParseBooleanTest() {
  TVEXExprNodePtr primary = ParseBooleanPrimary();
  if (!primary || !IsWord(rwIS)) return primary;
  ReadNextToken();
  const bool negated = IsWord(rwNOT);
  if (negated) ReadNextToken();
  TVEXDataOperator op;
  if (IsWord(rwTRUE)) {
    op = negated ? doNOT : doUNDEFINED;
  } else if (IsWord(rwFALSE)) {
    op = negated ? doUNDEFINED : doNOT;
  } else if (IsWord(rwUNKNOWN)) {
    op = negated ? doISNOTNULL : doISNULL;
  } else {
    RaiseExpected(30067, "TRUE, FALSE or UNKNOWN");
  }
  ReadNextToken();
  if (op == doUNDEFINED) return primary;
  return std::make_unique<TVEXExprNodeBoolean>(op, std::move(primary), true, false);
}

TVEXExprNodePtr TVEXExprParser::ParseBooleanPrimary() {
  return MemoFirstAlternative(prBooleanPrimary, 3, [this](int16_t alt) -> TVEXExprNodePtr {
    TVEXExprNodePtr result;
    if (alt == 0) {
      result = ParsePredicate();
    } else if (alt == 1) {
      if (IsType(tktLeftParenthesis)) {
        ReadNextToken();
        result = ParseSearchCondition();
        // A condition in parentheses must be closed right after it, so
        // that nothing written inside is silently left out.
        if (result && !IsType(tktRightParenthesis)) result.reset();
        if (result) ReadNextToken();
      }
    } else {
      result = ParseRowValue();
    }
    return result;
  });
}

// ---------------------------------------------------------------- predicates

TVEXExprNodePtr TVEXExprParser::ParsePredicate() {
  using Production = TVEXExprNodePtr (TVEXExprParser::*)();
  static constexpr Production kAlternatives[] = {
      &TVEXExprParser::ParseTruthValue,          &TVEXExprParser::ParseQuantifiedComparison,
      &TVEXExprParser::ParseComparisonPredicate, &TVEXExprParser::ParseLikePredicate,
      &TVEXExprParser::ParseNullPredicate,       &TVEXExprParser::ParseBetweenPredicate,
      &TVEXExprParser::ParseInPredicate,         &TVEXExprParser::ParseExistsPredicate};
  const int32_t pos = SaveTokenPosition();
  for (Production p : kAlternatives) {
    RestoreTokenPosition(pos);
    if (TVEXExprNodePtr result = (this->*p)()) return result;
  }
  RestoreTokenPosition(pos);
  return nullptr;
}

TVEXExprNodePtr TVEXExprParser::ParseTruthValue() {
  TVEXExprNodePtr node;
  if (IsWord(rwTRUE) || IsWord(rwFALSE)) {
    node = NewConst();
    node->Value.SetAsBoolean(IsWord(rwTRUE));
  } else if (IsParameterOf([](const TVEXVariant& v) { return v.DataType() == bftLogical; })) {
    node = NewConst();
    node->Value.Assign(*Token.ParamValue, true);
  } else {
    return nullptr;
  }
  ReadNextToken();
  return node;
}

TVEXDataOperator TVEXExprParser::ParseComparisonOperator() {
  if (!IsType(tktString)) return doUNDEFINED;
  static constexpr std::pair<std::u16string_view, TVEXDataOperator> kOps[] = {
      {u"=", doEQ}, {u"<>", doNE}, {u"<", doLT}, {u">", doGT}, {u"<=", doLE}, {u">=", doGE}};
  for (const auto& [text, op] : kOps)
    if (Token.Text == text) {
      ReadNextToken();
      return op;
    }
  return doUNDEFINED;
}

TVEXExprNodePtr TVEXExprParser::ParseQuantifiedComparison() {
  return Memo(prQuantifiedComparison, [&](int16_t, int16_t&) -> TVEXExprNodePtr {
    TVEXExprNodePtr operand = ParseRowValue();
    if (!operand) return nullptr;
    const TVEXDataOperator op = ParseComparisonOperator();
    if (op == doUNDEFINED) return nullptr;
    TVEXQuantifier quantifier;
    if (IsWord(rwALL))
      quantifier = qALL;
    else if (IsWord(rwANY) || IsWord(rwSOME))
      quantifier = qANY;
    else
      return nullptr;
    ReadNextToken();
    TVEXExprNodePtr subquery = ParseSubquery(false, true);
    if (!subquery) return nullptr;
    return std::make_unique<TVEXExprNodeComparison>(op, quantifier, std::move(operand),
                                                    std::move(subquery), FExpr.F3ValueLogic,
                                                    FExpr.FCaseInsensitive, FExpr.FPartialKey);
  });
}

TVEXExprNodePtr TVEXExprParser::ParseComparisonPredicate() {
  return Memo(prComparisonPredicate, [&](int16_t, int16_t&) -> TVEXExprNodePtr {
    TVEXExprNodePtr left = ParseRowValue();
    if (!left) return nullptr;
    const TVEXDataOperator op = ParseComparisonOperator();
    if (op == doUNDEFINED) return nullptr;
    TVEXExprNodePtr right = ParseRowValue();
    if (!right) return nullptr;

    // 1. Partial keys of a dataset filter: 'Jo*' matches by prefix.
    bool partial = false;
    if (FExpr.FPartialKey) {
      partial = StripPartialKeyStar(left.get());
      partial = StripPartialKeyStar(right.get()) || partial;
    }

    // 2. A column compared with a null text or date-time constant (the empty
    // literal, a null parameter of such a type) is a null test.
    const TVEXExprNodeConst* leftConst = AsConst(left.get());
    const TVEXExprNodeConst* rightConst = AsConst(right.get());
    if (op == doEQ || op == doNE) {
      const TVEXExprNodeConst* constant = nullptr;
      TVEXExprNodePtr* column = nullptr;
      if (IsColumnNode(left.get()) && rightConst) {
        constant = rightConst;
        column = &left;
      } else if (IsColumnNode(right.get()) && leftConst) {
        constant = leftConst;
        column = &right;
      }
      if (constant && constant->Value.IsNull() && IsTextOrDateTimeType(constant->Value.DataType()))
        return std::make_unique<TVEXExprNodeBoolean>(op == doEQ ? doISNULL : doISNOTNULL,
                                                     std::move(*column), true, false);
    }

    // 3. The three-valued flag.
    auto columnAgainst = [](const TVEXExprNode* a, const TVEXExprNodeConst* b) {
      return IsColumnNode(a) && b &&
             (b->Value.IsNull() || IsTextOrDateTimeType(b->Value.DataType()));
    };
    bool threeValued =
        !(columnAgainst(left.get(), rightConst) || columnAgainst(right.get(), leftConst));
    auto textAgainstNull = [](const TVEXExprNode& a, const TVEXExprNode& b) {
      return !a.Value.IsNull() && IsTextType(a.Value.DataType()) && b.Value.IsNull();
    };
    if (textAgainstNull(*left, *right) || textAgainstNull(*right, *left)) threeValued = false;

    return std::make_unique<TVEXExprNodeComparison>(op, std::move(left), std::move(right),
                                                    threeValued, FExpr.FCaseInsensitive, partial);
  });
}

TVEXExprNodePtr TVEXExprParser::ParseLikePredicate() {
  return Memo(prLikePredicate, [&](int16_t, int16_t&) -> TVEXExprNodePtr {
    TVEXExprNodePtr operand = ParseRowValue();
    if (!operand) return nullptr;
    const bool negated = IsWord(rwNOT);
    if (negated) ReadNextToken();
    if (!IsWord(rwLIKE)) return nullptr;
    ReadNextToken();
    TVEXExprNodePtr pattern = ParseRowValue();
    if (!pattern) return nullptr;
    bool hasEscape = false;
    std::string escape;
    if (IsWord(rwESCAPE)) {
      hasEscape = true;
      ReadNextToken();
      const std::u16string text = IsType(tktParameter) && Token.ParamValue != nullptr
                                      ? Token.ParamValue->AsWideString()
                                      : Token.Text;
      if (text.size() != 1)
        RaiseAt(20294,
                "Invalid escape character length (should be a single character) at line %d, "
                "column %d");
      escape = rtl::Utf16ToWin1252(text);
      ReadNextToken();
    }
    auto* constant = dynamic_cast<TVEXExprNodeConst*>(pattern.get());
    if (!hasEscape && constant && !constant->Value.IsNull() && constant->Value.IsStringDataType() &&
        constant->IsLikePatternEqualToPartialComparePattern() &&
        constant->Value.AsWideString().find(u'_') == std::u16string::npos) {
      constant->TruncateForPartialCompare();
      return std::make_unique<TVEXExprNodeComparison>(negated ? doNE : doEQ, std::move(operand),
                                                      std::move(pattern), false,
                                                      FExpr.FCaseInsensitive, true);
    }
    auto node = std::make_unique<TVEXExprNodeBoolean>(negated ? doNOTLIKE : doLIKE,
                                                      FExpr.FCaseInsensitive, false, escape);
    node->Children.push_back(std::move(operand));
    node->Children.push_back(std::move(pattern));
    return node;
  });
}

TVEXExprNodePtr TVEXExprParser::ParseNullPredicate() {
  return Memo(prNullPredicate, [&](int16_t, int16_t&) -> TVEXExprNodePtr {
    TVEXExprNodePtr operand = ParseRowValue();
    if (!operand || !IsWord(rwIS)) return nullptr;
    ReadNextToken();
    const bool negated = IsWord(rwNOT);
    if (negated) ReadNextToken();
    if (!IsWord(rwNULL)) return nullptr;
    ReadNextToken();
    return std::make_unique<TVEXExprNodeBoolean>(negated ? doISNOTNULL : doISNULL,
                                                 std::move(operand), true, false);
  });
}

TVEXExprNodePtr TVEXExprParser::ParseBetweenPredicate() {
  return Memo(prBetweenPredicate, [&](int16_t, int16_t&) -> TVEXExprNodePtr {
    TVEXExprNodePtr operand = ParseRowValue();
    if (!operand) return nullptr;
    const bool negated = IsWord(rwNOT);
    if (negated) ReadNextToken();
    if (!IsWord(rwBETWEEN)) return nullptr;
    ReadNextToken();
    TVEXExprNodePtr low = ParseRowValue();
    if (!low || !IsWord(rwAND)) return nullptr;
    ReadNextToken();
    TVEXExprNodePtr high = ParseRowValue();
    if (!high) return nullptr;
    return std::make_unique<TVEXExprNodeBoolean>(negated ? doNOTBETWEEN : doBETWEEN,
                                                 std::move(operand), std::move(low),
                                                 std::move(high), true, false);
  });
}

TVEXExprNodePtr TVEXExprParser::ParseInPredicate() {
  return Memo(prInPredicate, [&](int16_t, int16_t&) -> TVEXExprNodePtr {
    TVEXExprNodePtr operand = ParseRowValue();
    if (!operand) return nullptr;
    const bool negated = IsWord(rwNOT);
    if (negated) ReadNextToken();
    if (!IsWord(rwIN)) return nullptr;
    ReadNextToken();
    if (!IsType(tktLeftParenthesis)) return nullptr;
    TVEXExprNodePtr node = NewBool(negated ? doNOTIN : doIN);
    node->Children.push_back(std::move(operand));
    ReadNextToken();
    if (IsWord(rwSELECT)) {
      TVEXExprNodePtr subquery = ParseSubquery(false, true);
      if (!subquery) return nullptr;
      node->Children.push_back(std::move(subquery));
      if (IsType(tktRightParenthesis)) ReadNextToken();
      return node;
    }
    // The items; the comma between them may be left out.
    for (;;) {
      TVEXExprNodePtr item = ParseValueExpression();
      if (!item) return nullptr;
      node->Children.push_back(std::move(item));
      if (IsType(tktComma)) {
        ReadNextToken();
      } else if (IsType(tktRightParenthesis)) {
        ReadNextToken();
        break;
      }
    }
    return node;
  });
}

TVEXExprNodePtr TVEXExprParser::ParseExistsPredicate() {
  if (!IsWord(rwEXISTS)) return nullptr;
  ReadNextToken();
  int32_t open = 0;
  while (IsType(tktLeftParenthesis)) {
    ++open;
    ReadNextToken();
  }
  TVEXExprNodePtr subquery = ParseSubquery(false, false);
  if (!subquery) return nullptr;
  for (int32_t i = 0; i < open; ++i) {
    if (!IsType(tktRightParenthesis)) RaiseAt(30492, "Missing symbol ')' at line %d, column %d");
    ReadNextToken();
  }
  return std::make_unique<TVEXExprNodeBoolean>(doEXISTS, std::move(subquery), true, false);
}

// ------------------------------------------------------ operands, subqueries

TVEXExprNodePtr TVEXExprParser::ParseRowValue() {
  return Memo(prRowValue, [&](int16_t first, int16_t& winner) -> TVEXExprNodePtr {
    if (first == 0) {
      if (TVEXExprNodePtr subquery = ParseSubquery(true, true)) return subquery;
    }
    winner = 1;
    return ParseRowValueConstructor();
  });
}

TVEXExprNodePtr TVEXExprParser::ParseRowValueConstructor() {
  if (TVEXExprNodePtr null = ParseNullLiteral()) return null;
  return ParseValueExpression();
}

TVEXExprNodePtr TVEXExprParser::ParseSubquery(bool MustHaveOneRow, bool MustHaveOneField) {
  const int32_t pos = SaveTokenPosition();
  int32_t open = 0;
  while (IsType(tktLeftParenthesis)) {
    ++open;
    ReadNextToken();
  }
  if (!IsWord(rwSELECT)) {
    RestoreTokenPosition(pos);
    return nullptr;
  }
  // A filter or DEFAULT text is parsed with a lexer that is gone once the
  // parse ends, and a subquery node would read it again when evaluated.
  if (FExpr.FOwnLexer)
    RaiseFound(30511,
               "Subquery is not allowed in a filter or default value, '%s' found at line %d, "
               "column %d");
  auto node = std::make_unique<TVEXExprNodeSubquery>(MustHaveOneField, MustHaveOneRow,
                                                     FExpr.LDataset, LLex);
  // The node left the lexer after the query expression: on the closing
  // parentheses, which are read over unchecked.
  ReadCurrentToken();
  for (int32_t i = 0; i < open; ++i) ReadNextToken();
  return node;
}

}  // namespace vex
