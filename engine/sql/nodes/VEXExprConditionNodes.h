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
// EXISTS, IN over a subquery and the quantified comparisons ask their
// subquery node (VEXExprSubquery.h). IN over a subquery treats nulls as IN
// over a list does: a null tested value gives null, null values never match.
//
// Index-scan conditions: a comparison of a current-query column (or UPPER or
// LOWER of one) with a constant, and IS [NOT] NULL of a column, turn
// themselves into conditions on an index whose first column is that column,
// and extend a condition built so far by further equalities. An index range
// never returns a row that the node itself would reject: a three-valued
// comparison whose range runs towards the null keys (which sort before every
// value) also bounds the range to the non-null keys, and stays in its
// expression so that every row of the range is still tested.
#pragma once

#include <string>

#include "sql/nodes/VEXExprNode.h"

namespace vex {

class TVEXExprNodeField;

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

  // IS NULL and IS NOT NULL of a current-query column: index column
  // IndexColumnNo has the column's name; for column 0 the index is not a
  // temporary index of another session; after column 0 only IS NULL extends
  // an equality. Every other operator answers False.
  bool CanUseIndex(int32_t IndexColumnNo, TVEXSearchCondition ConditionSearchOperator,
                   const TVEXIndexDef* IndexDef, int32_t SessionID) override;
  // A one-column condition with a null key: scEqual for IS NULL, for IS NOT
  // NULL scGreater (ascending) or scLower (descending). Raises 20254 "Pointer
  // is nil" for a column not bound to a cursor, 20255 "Invalid index for
  // search" for an index without columns.
  void AddAsIndexScanCondition(TVEXScanSearchConditionArray& ScanConditions,
                               const TVEXIndexDef* IndexDef,
                               TVEXBaseExpression* Expression) override;
  // Adds a null key value for the column.
  void ExtendIndexScanCondition(TVEXScanSearchCondition& ScanCondition,
                                const TVEXIndexDef* IndexDef,
                                TVEXBaseExpression* Expression) override;

  // Scratch holder of the operand of NOT, AND and OR being tested.
  TVEXVariant TempVal{bftLogical};
  // The ESCAPE character of LIKE; empty when none was given.
  std::string EscapeStr;

 private:
  // IN over a list: null for a null tested value, else whether a list value
  // compares equal (ignoring case; null list values never match). IN over a
  // subquery: null for a null tested value, else whether the subquery holds
  // it.
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

  // Casts a wide-text constant compared with an 8-bit text column to 8-bit
  // text, so that the column's comparison and index serve it. Unlike the base
  // it does not visit its operands.
  void AdjustConstantTypes() override;
  // Always True or False. Raises 30117 "Unknown operator: '%s'" for an
  // operator that is not one of the six comparisons.
  TVEXVariant& GetDataValue() override;

  // The column and the constant of a column-versus-constant comparison (the
  // right operand wins when both qualify); both nullptr when there is none.
  // A column under UPPER (LOWER) with a constant that is not all upper (lower)
  // case gives none: no row matches and no index serves it; otherwise the
  // comparison ignores case from then on.
  void GetFieldAndConstNodes(TVEXExprNodeField*& FieldNode, TVEXExprNode*& ConstNode);
  // The column of Node: its first operand for UPPER or LOWER, else Node.
  static TVEXExprNodeField* GetFieldNode(TVEXExprNode* Node);
  // Whether the comparison can serve index column IndexColumnNo: a column and
  // a constant; the column is that index column (not a temporary index of
  // another session, for column 0); not a BLOB; a text column's case rule is
  // the index column's; no partial key; = < > <= >=; a text constant shorter
  // than the column; after column 0 only an equality extending an equality.
  // A three-valued comparison with a null constant matches nothing and uses
  // no index.
  bool CanUseIndex(int32_t IndexColumnNo, TVEXSearchCondition ConditionSearchOperator,
                   const TVEXIndexDef* IndexDef, int32_t SessionID) override;
  // A one-column condition in the order of the index's first column. Raises
  // 20055 "Pointer is nil" without column or constant, 20054 "Pointer is nil"
  // for a column not bound to a cursor, 20057 "Invalid index for search" for
  // an index without columns.
  void AddAsIndexScanCondition(TVEXScanSearchConditionArray& ScanConditions,
                               const TVEXIndexDef* IndexDef,
                               TVEXBaseExpression* Expression) override;
  // Adds the constant as the next key column (the caller asked CanUseIndex).
  void ExtendIndexScanCondition(TVEXScanSearchCondition& ScanCondition,
                                const TVEXIndexDef* IndexDef,
                                TVEXBaseExpression* Expression) override;
  // An equality of a column found once in AO1 with a column found once in
  // AO2 (either way round). Raises 10404 (left column) or 10405 (right column)
  // "Ambiguous field reference to '%s'" for a column found more than once in
  // the two.
  bool IsJoinCondition(TVEXAO* AO1, TVEXAO* AO2) override;

  bool F3ValueLogic;
  TVEXQuantifier FQuantifier = qUNDEFINED;
};

}  // namespace vex
