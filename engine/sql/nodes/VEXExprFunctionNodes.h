// The string functions (||, UPPER, LOWER, the TRIMs, LENGTH, POSITION,
// SUBSTRING) and the clock and date functions (SYSDATE, CURRENT_DATE,
// CURRENT_TIME, TODATE, TOSTRING, EXTRACT) of expressions.
//
// Texts of a wide type are handled as UTF-16 and counted in code units, all
// others as 8-bit text counted in bytes. The clock functions read rtl::Now
// once per evaluation, so two of them in one row may differ by the time
// between their evaluations.
#pragma once

#include <memory>
#include <string>

#include "foundation/VEXDateFormat.h"
#include "sql/nodes/VEXExprNode.h"

namespace vex {

class TVEXExprNodeStringFunction : public TVEXExprNode {
 public:
  using TVEXExprNode::TVEXExprNode;

  // Raises 30131 "Unknown operator: '%s'" for an operator it does not
  // evaluate, and 30016 "Value is Null" for a SUBSTRING with a null start or
  // length.
  TVEXVariant& GetDataValue() override;
  TVEXAdvancedFieldType GetDataType() override;
  // For || the operands whose type differs from the node's are first wrapped
  // in casts to it (so they deliver values of the common type from then on).
  int32_t GetDataSize() override;

 private:
  // The node's value becomes a copy of the first operand, cast to bftVarchar
  // when it is not text (a null is only retyped).
  void Prepare();
};

class TVEXExprNodeDateFunction : public TVEXExprNode {
 public:
  // SYSDATE, CURRENT_DATE and CURRENT_TIME.
  explicit TVEXExprNodeDateFunction(TVEXDataOperator Op);
  // TODATE and TOSTRING with their format.
  TVEXExprNodeDateFunction(TVEXDataOperator Op, TVEXExprNodePtr Node, const std::string& FormatStr);
  // EXTRACT.
  TVEXExprNodeDateFunction(TVEXDataOperator Op, TVEXDateTimeExtractField ExtractField,
                           TVEXExprNodePtr ExtractSource);

  // Raises 30130 "Unknown operator: '%s'" for another operator; the
  // formatter's errors pass through.
  TVEXVariant& GetDataValue() override;
  // Raises 30287 "Unknown operator: '%s'" for another operator.
  TVEXAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;

  std::unique_ptr<TDateFormater> DateFormater;
  TVEXDateTimeExtractField ExtractDateTimeField = dtefYear;
};

}  // namespace vex
