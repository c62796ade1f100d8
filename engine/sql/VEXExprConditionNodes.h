// The truth values of conditions: the connectives NOT, AND, OR, the predicates
// IN, BETWEEN, LIKE, IS [NOT] NULL and EXISTS, and the six comparisons.
//
// A truth value is a bftLogical value or null. NOT, AND and OR propagate null
// (False beats null in AND, True beats null in OR) and stop at the first
// operand that decides the result. A comparison never gives null: with three-
// valued logic (SQL text) any null operand makes it False, <> included; with
// two-valued logic (Locate, key searches) a null is the lowest value and two
// nulls are equal. Whoever reads a condition decides how a null counts (a
// filter, WHERE or HAVING rejects the row).
//
// EXISTS, IN over a subquery and the quantified comparisons ask a subquery
// node, and the index-scan operations a bound column node; both belong with
// those nodes.
#pragma once

#include <string>

#include "sql/VEXExprNode.h"

namespace vex {

class TVEXExprNodeBoolean : public TVEXExprNode {
 public:
  TVEXExprNodeBoolean(bool CaseInsensitive, bool PartialKey);
  TVEXExprNodeBoolean(TVEXDataOperator Op, bool CaseInsensitive, bool PartialKey,
                      const std::string& aEscapeStr);
  TVEXExprNodeBoolean(TVEXDataOperator Op, TVEXExprNodePtr Node, bool CaseInsensitive,
                      bool PartialKey);
  TVEXExprNodeBoolean(TVEXDataOperator Op, TVEXExprNodePtr Node1, TVEXExprNodePtr Node2,
                      bool CaseInsensitive, bool PartialKey);
  TVEXExprNodeBoolean(TVEXDataOperator Op, TVEXExprNodePtr Node1, TVEXExprNodePtr Node2,
                      TVEXExprNodePtr Node3, bool CaseInsensitive, bool PartialKey);

  // Raises 30116 "Unknown operator: '%s'" for an operator it does not evaluate
  // (doTRUE and doFALSE included), 30120 "Not string argument in function '%s'"
  // for a LIKE whose operands do not combine to text.
  TVEXVariant& GetDataValue() override;

  // Scratch holder of the operand of NOT, AND and OR being tested.
  TVEXVariant TempVal{bftLogical};
  // The ESCAPE character of LIKE; empty when none was given.
  std::string EscapeStr;

 private:
  // IN over a list: null for a null tested value, else whether a list value
  // compares equal (ignoring case; null list values never match).
  void EvaluateIn();
  void EvaluateBetween();
  void EvaluateLike();
  // Negates a non-null result (NOT IN, NOT BETWEEN, NOT LIKE).
  void NegateResult();
};

class TVEXExprNodeComparison : public TVEXExprNode {
 public:
  TVEXExprNodeComparison(TVEXDataOperator Op, TVEXExprNodePtr Node1, TVEXExprNodePtr Node2,
                         bool TrueFalseNullLogic, bool CaseInsensitive, bool PartialKey);
  TVEXExprNodeComparison(TVEXDataOperator Op, TVEXQuantifier Quantifier, TVEXExprNodePtr Node1,
                         TVEXExprNodePtr Node2, bool TrueFalseNullLogic, bool CaseInsensitive,
                         bool PartialKey);

  // Unlike the base it does not visit its operands: the constant it would
  // retype is one of them.
  void AdjustConstantTypes() override {}
  // Always True or False. Raises 30117 "Unknown operator: '%s'" for an
  // operator that is not one of the six comparisons.
  TVEXVariant& GetDataValue() override;

  bool F3ValueLogic;
  TVEXQuantifier FQuantifier = qUNDEFINED;
};

}  // namespace vex
