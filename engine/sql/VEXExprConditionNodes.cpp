#include "sql/VEXExprConditionNodes.h"

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXOperationTypes.h"
#include "rtl/CodePage.h"
#include "rtl/Exception.h"

namespace vex {

namespace {

[[noreturn]] void RaiseNeedsSubqueryNode(TVEXDataOperator Op) {
  throw rtl::EInvalidOperation("'" + GetOperatorName(Op) +
                               "' over a subquery needs the subquery node, which is not built yet");
}

}  // namespace

TVEXExprNodeBoolean::TVEXExprNodeBoolean(bool CaseInsensitive, bool PartialKey)
    : TVEXExprNode(CaseInsensitive, PartialKey) {}

TVEXExprNodeBoolean::TVEXExprNodeBoolean(TVEXDataOperator Op, bool CaseInsensitive, bool PartialKey,
                                         const std::string& aEscapeStr)
    : TVEXExprNode(Op, CaseInsensitive, PartialKey), EscapeStr(aEscapeStr) {}

TVEXExprNodeBoolean::TVEXExprNodeBoolean(TVEXDataOperator Op, TVEXExprNodePtr Node,
                                         bool CaseInsensitive, bool PartialKey)
    : TVEXExprNode(Op, std::move(Node), CaseInsensitive, PartialKey) {}

TVEXExprNodeBoolean::TVEXExprNodeBoolean(TVEXDataOperator Op, TVEXExprNodePtr Node1,
                                         TVEXExprNodePtr Node2, bool CaseInsensitive,
                                         bool PartialKey)
    : TVEXExprNode(Op, std::move(Node1), std::move(Node2), CaseInsensitive, PartialKey) {}

TVEXExprNodeBoolean::TVEXExprNodeBoolean(TVEXDataOperator Op, TVEXExprNodePtr Node1,
                                         TVEXExprNodePtr Node2, TVEXExprNodePtr Node3,
                                         bool CaseInsensitive, bool PartialKey)
    : TVEXExprNode(Op, std::move(Node1), std::move(Node2), std::move(Node3), CaseInsensitive,
                   PartialKey) {}

void TVEXExprNodeBoolean::NegateResult() {
  if (!Value.IsNull()) Value.SetAsBoolean(!Value.AsBoolean());
}

TVEXVariant& TVEXExprNodeBoolean::GetDataValue() {
  Value.SetNull();
  switch (Operator) {
    case doNOT:
      TempVal.Assign(ChildValue(0), true);
      if (!TempVal.IsNull()) Value.SetAsBoolean(!TempVal.AsBoolean());
      break;
    case doAND:
    case doOR: {
      // AND looks for a False, OR for a True; a null on the way makes the
      // result null unless a deciding operand follows.
      const bool decisive = Operator == doOR;
      bool sawNull = false;
      bool decided = false;
      for (size_t i = 0; i < Children.size(); ++i) {
        TempVal.Assign(ChildValue(i), true);
        if (TempVal.IsNull()) {
          sawNull = true;
        } else if (TempVal.AsBoolean() == decisive) {
          decided = true;
          break;
        }
      }
      if (decided)
        Value.SetAsBoolean(decisive);
      else if (!sawNull)
        Value.SetAsBoolean(!decisive);
      break;
    }
    case doIN:
    case doNOTIN:
      EvaluateIn();
      if (Operator == doNOTIN) NegateResult();
      break;
    case doEXISTS:
      RaiseNeedsSubqueryNode(Operator);
    case doBETWEEN:
    case doNOTBETWEEN:
      EvaluateBetween();
      if (Operator == doNOTBETWEEN) NegateResult();
      break;
    case doLIKE:
    case doNOTLIKE:
      EvaluateLike();
      if (Operator == doNOTLIKE) NegateResult();
      break;
    case doISNULL:
      Value.SetAsBoolean(ChildValue(0).IsNull());
      break;
    case doISNOTNULL:
      Value.SetAsBoolean(!ChildValue(0).IsNull());
      break;
    default:
      throw EVEXException(30116, "Unknown operator: '%s'", GetOperatorName(Operator));
  }
  return Value;
}

void TVEXExprNodeBoolean::EvaluateIn() {
  // The list's values may be computed: each is evaluated before it is compared,
  // so the tested value is copied first.
  TVEXVariant tested;
  tested.Assign(ChildValue(0), true);
  if (tested.IsNull()) return;
  bool found = false;
  for (size_t i = 1; i < Children.size() && !found; ++i) {
    const TVEXVariant& item = ChildValue(i);
    if (item.IsNull()) continue;
    found = tested.Compare(item, true, true, false) == cmprEqual;
  }
  Value.SetAsBoolean(found);
}

void TVEXExprNodeBoolean::EvaluateBetween() {
  TVEXVariant tested, low, high;
  tested.Assign(ChildValue(0), true);
  low.Assign(ChildValue(1), true);
  high.Assign(ChildValue(2), true);
  if (tested.IsNull() || low.IsNull() || high.IsNull()) return;
  const TVEXCompareResult lo = tested.Compare(low, true, true, false);
  const TVEXCompareResult hi = tested.Compare(high, true, true, false);
  Value.SetAsBoolean((lo == cmprEqual || lo == cmprGreater) &&
                     (hi == cmprEqual || hi == cmprLower));
}

void TVEXExprNodeBoolean::EvaluateLike() {
  const TVEXVariant& tested = ChildValue(0);
  const TVEXVariant& patternCopy = ChildValue(1);
  if (patternCopy.IsNull()) return;
  // A null text is matched as the empty text of the pattern's kind.
  const TVEXBaseFieldType testedType = tested.IsNull() ? patternCopy.DataType() : tested.DataType();
  const TVEXBaseFieldType opType =
      GetOperationResultType(testedType, patternCopy.DataType(), false);
  if (!IsStringBaseFieldType(opType))
    throw EVEXException(30120, "Not string argument in function '%s'", "LIKE");
  const bool useEscape = !EscapeStr.empty();
  bool match;
  if (IsWideStringBaseFieldType(opType)) {
    const std::u16string text = tested.IsNull() ? std::u16string() : tested.AsWideString();
    const char16_t escape = useEscape ? rtl::Win1252ToUtf16(EscapeStr.substr(0, 1))[0] : u'\0';
    match =
        MatchLikePatternWide(text, patternCopy.AsWideString(), useEscape, escape, FCaseInsensitive);
  } else {
    const std::string text = tested.IsNull() ? std::string() : tested.AsAnsiString();
    match = MatchLikePattern(text, patternCopy.AsAnsiString(), useEscape,
                             useEscape ? EscapeStr[0] : '\0', FCaseInsensitive);
  }
  Value.SetAsBoolean(match);
}

TVEXExprNodeComparison::TVEXExprNodeComparison(TVEXDataOperator Op, TVEXExprNodePtr Node1,
                                               TVEXExprNodePtr Node2, bool TrueFalseNullLogic,
                                               bool CaseInsensitive, bool PartialKey)
    : TVEXExprNode(Op, std::move(Node1), std::move(Node2), CaseInsensitive, PartialKey),
      F3ValueLogic(TrueFalseNullLogic) {}

TVEXExprNodeComparison::TVEXExprNodeComparison(TVEXDataOperator Op, TVEXQuantifier Quantifier,
                                               TVEXExprNodePtr Node1, TVEXExprNodePtr Node2,
                                               bool TrueFalseNullLogic, bool CaseInsensitive,
                                               bool PartialKey)
    : TVEXExprNodeComparison(Op, std::move(Node1), std::move(Node2), TrueFalseNullLogic,
                             CaseInsensitive, PartialKey) {
  FQuantifier = Quantifier;
}

TVEXVariant& TVEXExprNodeComparison::GetDataValue() {
  if (FQuantifier != qUNDEFINED) RaiseNeedsSubqueryNode(Operator);
  // Both sides are compared in place; the left one is evaluated first.
  const TVEXVariant& left = ChildValue(0);
  const TVEXVariant& right = ChildValue(1);
  const TVEXCompareResult r = left.Compare(right, F3ValueLogic, FCaseInsensitive, FPartialKey);
  bool result;
  switch (Operator) {
    case doEQ:
      result = r == cmprEqual;
      break;
    case doNE:
      result = F3ValueLogic ? (r == cmprLower || r == cmprGreater) : r != cmprEqual;
      break;
    case doGT:
      result = r == cmprGreater;
      break;
    case doLT:
      result = r == cmprLower;
      break;
    case doGE:
      result = r == cmprEqual || r == cmprGreater;
      break;
    case doLE:
      result = r == cmprEqual || r == cmprLower;
      break;
    default:
      throw EVEXException(30117, "Unknown operator: '%s'", GetOperatorName(Operator));
  }
  Value.SetNull();
  Value.SetAsBoolean(result);
  return Value;
}

}  // namespace vex
