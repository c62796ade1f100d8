// Arithmetic operators and mathematical functions of expressions.
//
// The operators (+, unary -, *, /) work through the value type's arithmetic,
// so a number with a null on either side is null, while texts added together
// concatenate and skip nulls. The grammar writes a - b as the sum of a and the
// negation of b.
//
// The mathematical functions check their domain and raise the platform's math
// errors (rtl::EInvalidOp for an argument without a result, rtl::EZeroDivide
// for a pole, rtl::EOverflow for a result beyond the double range), never a NaN
// or an infinity; CEIL, FLOOR and one-argument ROUND raise rtl::EIntOverflow
// when the integer does not fit 32 bits. A null argument raises 30016 "Value
// is Null" (ABS and SQR of a null give null). A result stored through a typed
// store keeps the type of the node's first result.
#pragma once

#include "sql/nodes/VEXExprNode.h"

namespace vex {

class TVEXExprNodeArithmetic : public TVEXExprNode {
 public:
  using TVEXExprNode::TVEXExprNode;

  // Raises 30121 "Unknown operator: '%s'" for an operator it does not evaluate.
  TVEXVariant& GetDataValue() override;
  // The fold for the operators; the functions' own types (ABS and SQR: the
  // argument's; CEIL, FLOOR, SIGN, RAND and one-argument ROUND: aftInteger;
  // the others aftDouble).
  TVEXAdvancedFieldType GetDataType() override;

 private:
  void EvaluateFunction();
  void EvaluateRound();
};

}  // namespace vex
